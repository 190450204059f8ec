#pragma once

#include <array>
#include <cstdint>

#include <juce_core/juce_core.h>

/** SHA-256 over a stream of pieces, so that the transfer can hash exactly the
    bytes it sends as they go out, and a file is hashed as it is read (JUCE's
    own SHA256 only takes a whole input).

    Owned by whoever hashes; not thread-safe.
*/
class Sha256 final
{
public:
    Sha256() noexcept;

    void update (const void* data, size_t numBytes) noexcept;

    /** The digest of everything given so far, as 64 lower-case hex digits.
        Hashing may go on afterwards.
    */
    juce::String toHexString() const;

private:
    void compress (const std::uint8_t* block) noexcept;

    std::array<std::uint32_t, 8> state;
    std::array<std::uint8_t, 64> pending {};
    size_t numPending = 0;
    std::uint64_t totalBytes = 0;

    JUCE_LEAK_DETECTOR (Sha256)
};

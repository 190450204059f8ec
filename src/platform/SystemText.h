#pragma once

#include <string>

#include <juce_core/juce_core.h>

/** The one way in which bytes the system hands over (arguments, paths, the
    environment, interface names) become juce::String, and back again.

    On Linux a name is bytes, not text: a folder unpacked from a Windows zip may
    be named in Latin-1, and juce::String's UTF-8 decoding overruns its buffer
    on such input. Here every byte that is not part of well-formed UTF-8 is
    kept as a code point of its own in a private-use range (U+EF80 + byte - 0x80),
    so the string is valid text and still names the same file on its way back.
    Used by both programs' main() and by whatever reads a name from the system.
*/
namespace systemtext
{
    /** True when the zero-terminated bytes are well-formed UTF-8 throughout. */
    bool isWellFormed (const char* text) noexcept;

    /** Never fails on any input; nullptr gives an empty string. */
    juce::String fromBytes (const char* bytes);

    /** The bytes that fromBytes() was given; hand these to the system. */
    std::string toBytes (const juce::String& text);

    /** For people and JSON: each kept byte shows as U+FFFD. */
    juce::String forDisplay (const juce::String& text);

    /** Bytes only ever shown (a program's output, a process's name, a file of
        /proc), up to the first zero: fromBytes, then forDisplay.
    */
    juce::String readable (const std::string& bytes);

    /** A small file's text (such as /proc's, whose size reads 0), read to its end. */
    juce::String readFile (const juce::File& file);

    /** The running program, as the system records it (not argv[0]). */
    juce::File executableFile();

    /** The working directory, whatever its name. */
    juce::File workingDirectory();

    /** JUCE reads the environment (HOME for fonts) and the working directory's name
        (when it starts a child process) on its own, unchecked: rewrites environment
        values that are not UTF-8 and leaves a working directory whose name is not.
        Call it at start, once relative names have been resolved.
    */
    void makeProcessTextSafe();
} // namespace systemtext

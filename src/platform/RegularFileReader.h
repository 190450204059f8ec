#pragma once

#include <juce_core/juce_core.h>

/** A read-only handle on a file, taken only when a regular file stands at the
    path, together with the size it had when it was opened.

    Opening never blocks: a FIFO or a device under the name is refused rather
    than waited on. On Windows the path goes to the system as UTF-16, so folders
    named in any script work (the narrow C runtime would read the name through
    the ANSI code page and miss, e.g., C:\Users\山田).

    The environment's check and the transfer each open their own; reads go
    straight into the caller's buffer.
*/
class RegularFileReader final
{
public:
    explicit RegularFileReader (const juce::File& file);
    ~RegularFileReader();

    /** True when a regular file could be opened for reading. */
    bool isOpen() const noexcept { return handle != invalidHandle; }

    /** The size the file system reported on opening. */
    juce::int64 getSize() const noexcept { return size; }

    /** Reads up to numBytes; fewer only at the end of the file. -1 on a read error. */
    int read (void* destination, int numBytes) noexcept
    {
        if (! isOpen() || numBytes < 0)
            return -1;

        auto* out = static_cast<char*> (destination);
        int done = 0;

        while (done < numBytes)
        {
            const auto n = readSome (out + done, numBytes - done);

            if (n < 0)
                return -1;

            if (n == 0)
                break;

            done += n;
        }

        return done;
    }

private:
    /** One read of the system's; 0 at the end of the file. */
    int readSome (char* destination, int numBytes) noexcept;

    static constexpr juce::pointer_sized_int invalidHandle = -1;
    juce::pointer_sized_int handle = invalidHandle;
    juce::int64 size = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RegularFileReader)
};

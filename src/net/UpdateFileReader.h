#pragma once

#include <juce_core/juce_core.h>

/** A read-only handle on the update file, taken only when a regular file stands
    at the path, together with the size it had when it was opened.

    Opening never blocks: a FIFO or a device under the update file's name is
    refused rather than waited on. The environment's check and the transfer each
    open their own; reads go straight into the caller's buffer.
*/
class UpdateFileReader final
{
public:
    explicit UpdateFileReader (const juce::File& file);
    ~UpdateFileReader();

    /** True when a regular file could be opened for reading. */
    bool isOpen() const noexcept { return handle >= 0; }

    /** The size the file system reported on opening. */
    juce::int64 getSize() const noexcept { return size; }

    /** Reads up to numBytes; fewer only at the end of the file. -1 on a read error. */
    int read (void* destination, int numBytes) noexcept;

private:
    int handle = -1;
    juce::int64 size = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateFileReader)
};

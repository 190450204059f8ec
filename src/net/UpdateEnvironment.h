#pragma once

#include <functional>

#include <juce_core/juce_core.h>

#include "platform/NetworkInterfaces.h"

/** Outcome of the initialise phase: the update file beside the executable has
    been checked, and the IPv4 interfaces with their broadcast addresses listed.

    Built once on the workflow's worker thread and read-only afterwards; the
    broadcaster reads the address lists while the workflow keeps this alive.
*/
class UpdateEnvironment final
{
public:
    /** Status codes; the numbers are the I-codes the user sees. */
    enum Status
    {
        ok = 0,
        updateFileInvalid = 4,
        interfaceQueryUnavailable = 5,
        interfaceQueryFailed = 6,
        noUsableInterface = 9
    };

    /** Checks the product's update file and the system's interfaces. */
    UpdateEnvironment();

    /** Checks the given file and asks the given source for interfaces. The
        check reads the whole file and looks at shouldStop between reads.
    */
    UpdateEnvironment (const juce::File& updateFile, InterfaceSource interfaces,
                       const std::function<bool()>& shouldStop = {});

    int getStatus() const noexcept { return status; }
    int getNumAddresses() const noexcept { return localAddresses.size(); }

    /** Dotted addresses; empty for an index out of range. */
    juce::String getLocalAddress (int index) const { return localAddresses[index]; }
    juce::String getBroadcastAddress (int index) const { return broadcastAddresses[index]; }

    /** The update file's size as it was checked; -1 when it failed the check. */
    juce::int64 getUpdateFileSize() const noexcept { return updateFileSize; }

    /** The running executable's path with its extension replaced by ".upd". */
    static juce::File getUpdateFile();

    /** The update file that belongs to the given executable. */
    static juce::File getUpdateFileFor (const juce::File& executable);

    /** What one read of a file from its start to its end found. */
    struct FileReading
    {
        bool opened = false;        // a regular file could be opened for reading
        juce::int64 size = 0;       // the size it had when it was opened
        bool tooLarge = false;      // above maxSize: not read at all
        juce::int64 bytesRead = 0;
        bool whole = false;         // exactly `size` bytes read, without a stop or a read error
        bool modelPrefix = false;   // it begins with the first 7 bytes of the model string (once bytes were read)
        juce::String sha256;        // of the bytes read, when asked for and read whole
    };

    /** Reads the file once, in pieces, so memory stays flat whatever its size;
        looks at shouldStop between pieces, and hashes as it goes when asked to.
    */
    static FileReading readFile (const juce::File& file, const std::function<bool()>& shouldStop = {},
                                 bool hash = false, juce::int64 maxSize = maxUpdateFileSize);

    /** 0 when the file is a regular file under 4 GiB, fully readable and begins
        with the first 7 bytes of the model string; otherwise updateFileInvalid,
        also when shouldStop said so before the end. On success the size that
        was checked goes to checkedSize.
    */
    static int checkUpdateFile (const juce::File& updateFile, const std::function<bool()>& shouldStop = {},
                                juce::int64* checkedSize = nullptr);

    /** The same check on what readFile found. */
    static int checkUpdateFile (const FileReading& reading) noexcept;

    /** True when the bytes begin with the first 7 bytes of the model string. */
    static bool beginsWithModelPrefix (const char* bytes, int numBytes) noexcept;

    /** The largest file whose length fits the 32-bit length field. */
    static constexpr juce::int64 maxUpdateFileSize = 0xffffffffLL;

private:
    int findInterfaces (const InterfaceSource& interfaces);

    int status = ok;
    juce::int64 updateFileSize = -1;
    juce::StringArray localAddresses, broadcastAddresses;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateEnvironment)
};

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
    juce::String getLocalAddress (int index) const { return localAddresses[index]; }
    juce::String getBroadcastAddress (int index) const { return broadcastAddresses[index]; }

    /** The update file's size as it was checked; -1 when it failed the check. */
    juce::int64 getUpdateFileSize() const noexcept { return updateFileSize; }

    /** The running executable's path with its extension replaced by ".upd". */
    static juce::File getUpdateFile();

    /** The update file that belongs to the given executable. */
    static juce::File getUpdateFileFor (const juce::File& executable);

    /** 0 when the file is a regular file under 4 GiB, fully readable and begins
        with the first 7 bytes of the model string; otherwise updateFileInvalid,
        also when shouldStop said so before the end. On success the size that
        was checked goes to checkedSize.
    */
    static int checkUpdateFile (const juce::File& updateFile, const std::function<bool()>& shouldStop = {},
                                juce::int64* checkedSize = nullptr);

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

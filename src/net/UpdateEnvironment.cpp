#include "net/UpdateEnvironment.h"

#include <algorithm>
#include <vector>

#include "platform/RegularFileReader.h"
#include "platform/SystemText.h"

namespace
{
    // The update file begins with the model string without its last character.
    constexpr char modelPrefix[] = { 'Q', 'V', 'R', '-', '7', '0', '0' };
    constexpr int modelPrefixLength = (int) sizeof (modelPrefix);

    // The check reads the whole file to prove it readable, in pieces of this
    // size, so memory stays flat whatever the file's size.
    constexpr int checkBlockSize = 64 * 1024;

    constexpr std::uint32_t onlySkippedAddress = 0x7f000001u; // 127.0.0.1

    juce::String dotted (std::uint32_t address)
    {
        return juce::String (address >> 24) + "." + juce::String ((address >> 16) & 0xff) + "."
             + juce::String ((address >> 8) & 0xff) + "." + juce::String (address & 0xff);
    }
}

UpdateEnvironment::UpdateEnvironment()
    : UpdateEnvironment (getUpdateFile(), querySystemInterfaces)
{
}

UpdateEnvironment::UpdateEnvironment (const juce::File& updateFile, InterfaceSource interfaces,
                                      const std::function<bool()>& shouldStop)
{
    status = checkUpdateFile (updateFile, shouldStop, &updateFileSize);

    if (status == ok)
        status = findInterfaces (interfaces);
}

juce::File UpdateEnvironment::getUpdateFile()
{
    return getUpdateFileFor (systemText::executableFile());
}

juce::File UpdateEnvironment::getUpdateFileFor (const juce::File& executable)
{
    const auto name = executable.getFileName();
    const auto lastDot = name.lastIndexOfChar ('.');
    const auto stem = lastDot >= 0 ? name.substring (0, lastDot) : name;

    return executable.getParentDirectory().getChildFile (stem + ".upd");
}

bool UpdateEnvironment::beginsWithModelPrefix (const char* bytes, int numBytes) noexcept
{
    return numBytes >= modelPrefixLength && std::equal (modelPrefix, modelPrefix + modelPrefixLength, bytes);
}

int UpdateEnvironment::checkUpdateFile (const juce::File& updateFile, const std::function<bool()>& shouldStop,
                                        juce::int64* checkedSize)
{
    RegularFileReader reader (updateFile);

    if (! reader.isOpen() || reader.getSize() > maxUpdateFileSize)
        return updateFileInvalid;

    std::vector<char> block ((size_t) checkBlockSize);
    juce::int64 total = 0;
    bool prefixMatches = false;

    for (;;)
    {
        // A 4 GiB file on a USB stick takes minutes to read: Cancel must not wait for it.
        if (shouldStop && shouldStop())
            return updateFileInvalid;

        const auto n = reader.read (block.data(), checkBlockSize);

        if (n < 0)
            return updateFileInvalid;

        if (n == 0)
            break;

        // Reads only come back short at the end, so a first block shorter than
        // the prefix means a file shorter than the prefix.
        if (total == 0)
            prefixMatches = beginsWithModelPrefix (block.data(), n);

        total += n;

        // A file that grows while it is checked must not keep us reading.
        if (total > reader.getSize())
            return updateFileInvalid;
    }

    if (total != reader.getSize() || ! prefixMatches)
        return updateFileInvalid;

    if (checkedSize != nullptr)
        *checkedSize = total;

    return ok;
}

int UpdateEnvironment::findInterfaces (const InterfaceSource& interfaces)
{
    std::vector<Ipv4Interface> found;

    const auto result = interfaces ? interfaces (found) : InterfaceQueryResult::cannotSetUp;

    if (result != InterfaceQueryResult::ok)
        return result == InterfaceQueryResult::cannotSetUp ? interfaceQueryUnavailable
                                                           : interfaceQueryFailed;

    for (auto& i : found)
    {
        if (i.address == onlySkippedAddress)
            continue;

        localAddresses.add (dotted (i.address));
        broadcastAddresses.add (dotted (i.address | ~i.netmask));
    }

    return localAddresses.isEmpty() ? noUsableInterface : ok;
}

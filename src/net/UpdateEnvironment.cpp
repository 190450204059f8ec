#include "net/UpdateEnvironment.h"

#include <algorithm>
#include <vector>

#include "net/Sha256.h"
#include "platform/RegularFileReader.h"
#include "platform/SystemText.h"

namespace
{
    // The update file begins with the model string without its last character.
    constexpr char modelPrefix[] = { 'Q', 'V', 'R', '-', '7', '0', '0' };
    constexpr int modelPrefixLength = (int) sizeof (modelPrefix);

    // The check reads the whole file to prove it readable, in pieces of this size.
    constexpr int checkBlockSize = 64 * 1024;

    constexpr std::uint32_t onlySkippedAddress = 0x7f000001u; // 127.0.0.1

    juce::String dotted (std::uint32_t address)
    {
        return juce::IPAddress (address).toString();
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
    return getUpdateFileFor (systemtext::executableFile());
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

UpdateEnvironment::FileReading UpdateEnvironment::readFile (const juce::File& file, const std::function<bool()>& shouldStop,
                                                          bool hash, juce::int64 maxSize)
{
    FileReading reading;
    RegularFileReader reader (file);
    reading.opened = reader.isOpen();
    reading.size = reader.getSize();
    reading.tooLarge = reading.size > maxSize;

    if (! reading.opened || reading.tooLarge)
        return reading;

    std::vector<char> block ((size_t) checkBlockSize);
    Sha256 digest;
    juce::int64 total = 0;

    for (;;)
    {
        // A 4 GiB file on a USB stick takes minutes to read: Cancel must not wait for it.
        if (shouldStop && shouldStop())
            return reading;

        const auto n = reader.read (block.data(), checkBlockSize);

        if (n < 0)
            return reading;

        if (n == 0)
            break;

        // Reads only come back short at the end, so a first block shorter than
        // the prefix means a file shorter than the prefix.
        if (total == 0)
            reading.modelPrefix = beginsWithModelPrefix (block.data(), n);

        total += n;
        reading.bytesRead = total;

        // A file that grows while it is read must not keep us reading.
        if (total > reading.size)
            return reading;

        if (hash)
            digest.update (block.data(), (size_t) n);
    }

    // One that shrank is not the file that was opened, whatever it now holds.
    reading.whole = total == reading.size;

    if (hash && reading.whole)
        reading.sha256 = digest.toHexString();

    return reading;
}

int UpdateEnvironment::checkUpdateFile (const FileReading& reading) noexcept
{
    return reading.opened && ! reading.tooLarge && reading.whole && reading.modelPrefix ? ok : updateFileInvalid;
}

int UpdateEnvironment::checkUpdateFile (const juce::File& updateFile, const std::function<bool()>& shouldStop,
                                        juce::int64* checkedSize)
{
    const auto reading = readFile (updateFile, shouldStop);
    const auto status = checkUpdateFile (reading);

    if (status == ok && checkedSize != nullptr)
        *checkedSize = reading.size;

    return status;
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

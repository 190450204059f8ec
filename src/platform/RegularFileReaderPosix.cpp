#include "platform/RegularFileReader.h"

#include "platform/SystemText.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFileReader::RegularFileReader (const juce::File& file)
{
    if (file.getFullPathName().isEmpty())
        return;

    // O_NONBLOCK keeps the open itself from waiting on a FIFO without a writer;
    // regular files ignore the flag for reading.
    const auto h = ::open (systemtext::toBytes (file.getFullPathName()).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    if (h < 0)
        return;

    struct stat info {};

    if (::fstat (h, &info) != 0 || ! S_ISREG (info.st_mode))
    {
        ::close (h);
        return;
    }

    handle = h;
    size = (juce::int64) info.st_size;
}

RegularFileReader::~RegularFileReader()
{
    if (isOpen())
        ::close ((int) handle);
}

int RegularFileReader::readSome (char* destination, int numBytes) noexcept
{
    for (;;)
    {
        const auto n = ::read ((int) handle, destination, (size_t) numBytes);

        if (n >= 0 || errno != EINTR)
            return (int) n;
    }
}

#include "platform/RegularFileReader.h"

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
    const auto h = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

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

int RegularFileReader::read (void* destination, int numBytes) noexcept
{
    if (! isOpen() || numBytes < 0)
        return -1;

    auto* out = static_cast<char*> (destination);
    int done = 0;

    while (done < numBytes)
    {
        const auto n = ::read ((int) handle, out + done, (size_t) (numBytes - done));

        if (n < 0)
        {
            if (errno == EINTR)
                continue;

            return -1;
        }

        if (n == 0)
            break;

        done += (int) n;
    }

    return done;
}

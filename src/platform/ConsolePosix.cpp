#include "platform/Console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SystemText.h"

namespace
{
    std::atomic<bool>* interruptFlag = nullptr;
    std::atomic<bool> streamLost[2];

    extern "C" void requestInterrupt (int)
    {
        // Lock-free, so a signal handler may set it.
        interruptFlag->store (true);
    }
}

namespace console
{
void setUp (std::atomic<bool>& interruptRequested)
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    {
        if (::fcntl (fd, F_GETFD) >= 0 || errno != EBADF)
            continue;

        // The lowest free number is this one, the ones below being open by now.
        if (const auto h = ::open ("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY); h >= 0 && h != fd)
        {
            ::dup2 (h, fd);
            ::close (h);
        }
    }

    interruptFlag = &interruptRequested;
    std::signal (SIGINT, requestInterrupt);
    std::signal (SIGTERM, requestInterrupt);
    std::signal (SIGPIPE, SIG_IGN);
    std::signal (SIGHUP, SIG_IGN);
}

juce::StringArray arguments (int argc, char** argv)
{
    juce::StringArray result;

    for (int i = 1; i < argc; ++i)
        result.add (systemtext::fromBytes (argv[i]));

    return result;
}

bool isTerminal (Stream stream)
{
    return ::isatty (stream == Stream::err ? STDERR_FILENO : STDOUT_FILENO) == 1;
}

void write (Stream stream, const juce::String& text)
{
    auto& lost = streamLost[stream == Stream::err ? 1 : 0];

    if (lost.load())
        return;

    auto* file = stream == Stream::err ? stderr : stdout;

    if (std::fputs (systemtext::forDisplay (text).toRawUTF8(), file) < 0 || std::fflush (file) != 0)
        lost = true;
}

PathFacts lookAt (const juce::File& path)
{
    struct stat info {};

    if (::stat (systemtext::toBytes (path.getFullPathName()).c_str(), &info) != 0)
        return { errno == ENOENT || errno == ENOTDIR ? PathFacts::missing : PathFacts::unknown, 0 };

    if (S_ISDIR (info.st_mode))
        return { PathFacts::folder, 0 };

    if (! S_ISREG (info.st_mode))
        return { PathFacts::special, 0 };

    return { PathFacts::regularFile, (juce::int64) info.st_size };
}
} // namespace console

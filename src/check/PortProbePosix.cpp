#include "check/PortProbe.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>
#include <set>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "check/CheckFinding.h"

namespace
{
    sockaddr_in ipv4 (std::uint32_t address, int port)
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons ((std::uint16_t) port);
        a.sin_addr.s_addr = htonl (address);
        return a;
    }

    struct Descriptor
    {
        explicit Descriptor (int f) : fd (f) {}
        ~Descriptor() { if (fd >= 0) ::close (fd); }
        Descriptor (const Descriptor&) = delete;
        Descriptor& operator= (const Descriptor&) = delete;
        const int fd;
    };

    juce::String errorText (int error)
    {
        return systemtext::readable (std::strerror (error));
    }

    // The sockets listening on the port, as /proc/net/tcp and tcp6 list them
    // for this network namespace: "sl local rem st ... uid timeout inode", the
    // local port in hex after the colon, LISTEN being state 0A.
    std::set<std::string> listeningInodes (int port, juce::StringArray& owners)
    {
        std::set<std::string> inodes;

        for (auto* table : { "/proc/net/tcp", "/proc/net/tcp6" })
        {
            juce::StringArray lines;
            lines.addLines (systemtext::readFile (juce::File (table)));

            for (auto& line : lines)
            {
                auto fields = juce::StringArray::fromTokens (line, " ", "");
                fields.removeEmptyStrings();

                if (fields.size() < 10 || fields[3] != "0A"
                    || fields[1].fromLastOccurrenceOf (":", false, false).getHexValue32() != port)
                    continue;

                inodes.insert ("socket:[" + fields[9].toStdString() + "]");

                const auto* user = ::getpwuid ((uid_t) fields[7].getIntValue());
                owners.addIfNotAlreadyThere (user != nullptr ? systemtext::readable (user->pw_name) : "uid " + fields[7]);
            }
        }

        return inodes;
    }
}

namespace portprobe
{
PortState tcpPortState (int port, juce::String& why)
{
    const Descriptor s (::socket (AF_INET, SOCK_STREAM, 0));

    if (s.fd < 0)
    {
        why = errorText (errno);
        return PortState::unknown;
    }

    // As the listener binds: with SO_REUSEADDR, so that only a listener, not a
    // closed connection's leftovers, holds the port.
    const int on = 1;
    ::setsockopt (s.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof (on));
    const auto any = ipv4 (INADDR_ANY, port);

    if (::bind (s.fd, reinterpret_cast<const sockaddr*> (&any), sizeof (any)) == 0)
        return PortState::free;

    const auto error = errno;
    why = errorText (error);
    return error == EADDRINUSE ? PortState::held : PortState::unknown;
}

juce::StringArray tcpPortHolders (int port, const std::function<bool()>& shouldStop)
{
    juce::StringArray owners, holders;
    const auto inodes = listeningInodes (port, owners);

    if (inodes.empty())
        return {};

    // A socket's inode shows in the fd links of the processes that have it
    // open; other users' processes stay hidden unless we are root.
    if (auto* proc = ::opendir ("/proc"))
    {
        // Thousands of processes, each with its descriptors, take a while to look through.
        while (auto* process = shouldStop && shouldStop() ? nullptr : ::readdir (proc))
        {
            const std::string pid (process->d_name);

            if (pid.find_first_not_of ("0123456789") != std::string::npos)
                continue;

            const auto fds = "/proc/" + pid + "/fd";

            if (auto* dir = ::opendir (fds.c_str()))
            {
                while (auto* fd = ::readdir (dir))
                {
                    char target[64] = {};

                    if (::readlink ((fds + "/" + fd->d_name).c_str(), target, sizeof (target) - 1) > 0
                        && inodes.count (target) > 0)
                    {
                        holders.addIfNotAlreadyThere (systemtext::readFile (juce::File ("/proc/" + pid + "/comm")).trim()
                                                      + " (pid " + juce::String (pid) + ")");
                        break;
                    }
                }

                ::closedir (dir);
            }
        }

        ::closedir (proc);
    }

    if (holders.isEmpty())
        for (auto& owner : owners)
            holders.add ("a program of " + owner + " that this user may not see");

    return holders;
}

std::uint32_t announcementSource (std::uint32_t broadcast, int port, juce::String& why)
{
    const Descriptor s (::socket (AF_INET, SOCK_DGRAM, 0));
    const int on = 1;
    const auto to = ipv4 (broadcast, port);
    sockaddr_in from {};
    socklen_t size = sizeof (from);

    // Connecting a datagram socket only picks the route: nothing is sent.
    if (s.fd < 0 || ::setsockopt (s.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof (on)) != 0
        || ::connect (s.fd, reinterpret_cast<const sockaddr*> (&to), sizeof (to)) != 0
        || ::getsockname (s.fd, reinterpret_cast<sockaddr*> (&from), &size) != 0)
    {
        why = errorText (errno);
        return 0;
    }

    return ntohl (from.sin_addr.s_addr);
}
} // namespace portprobe

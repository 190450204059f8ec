#include "check/PortProbe.h"

#include <vector>

#include "platform/NetCalls.h"
#include "platform/WindowsSystem.h"

#include <iphlpapi.h>

namespace
{
    sockaddr_in ipv4 (std::uint32_t address, int port)
    {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons ((u_short) port);
        a.sin_addr.s_addr = htonl (address);
        return a;
    }

    juce::String errorText (int error)
    {
        return "Winsock error " + juce::String (error);
    }

    juce::String processName (DWORD pid)
    {
        juce::String name = "a program";

        if (auto process = ::OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid))
        {
            wchar_t path[MAX_PATH] {};
            DWORD size = MAX_PATH;

            if (::QueryFullProcessImageNameW (process, 0, path, &size))
                name = juce::File (juce::String (path)).getFileName();

            ::CloseHandle (process);
        }

        return name;
    }
}

namespace portprobe
{
PortState tcpPortState (int port, juce::String& why)
{
    // The listener's own test first: a plain bind cannot see a program that
    // listens on one address of the port.
    if (! netcalls::mayListenOn (port))
    {
        why = "another program listens on it";
        return PortState::held;
    }

    const WinsockUse winsock;
    const auto s = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);

    if (s == INVALID_SOCKET)
    {
        why = errorText (::WSAGetLastError());
        return PortState::unknown;
    }

    const auto any = ipv4 (INADDR_ANY, port);
    const auto bound = ::bind (s, reinterpret_cast<const sockaddr*> (&any), sizeof (any)) == 0;
    const auto error = ::WSAGetLastError();
    ::closesocket (s);

    if (bound)
        return PortState::free;

    why = errorText (error);
    return error == WSAEADDRINUSE || error == WSAEACCES ? PortState::held : PortState::unknown;
}

// One table read, which takes no time worth stopping.
juce::StringArray tcpPortHolders (int port, const std::function<bool()>&)
{
    juce::StringArray holders;
    std::vector<char> buffer;

    if (! readGrowingTable ([] (void* table, unsigned long* size)
                            {
                                return ::GetExtendedTcpTable (table, size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
                            },
                            buffer)
        || buffer.size() < sizeof (MIB_TCPTABLE_OWNER_PID))
        return holders;

    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*> (buffer.data());

    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (ntohs ((u_short) table->table[i].dwLocalPort) == port)
            holders.addIfNotAlreadyThere (processName (table->table[i].dwOwningPid) + " (pid " + juce::String ((int) table->table[i].dwOwningPid) + ")");

    return holders;
}

std::uint32_t announcementSource (std::uint32_t broadcast, int port, juce::String& why)
{
    const WinsockUse winsock;
    const auto s = ::socket (AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const BOOL on = TRUE;
    const auto to = ipv4 (broadcast, port);
    sockaddr_in from {};
    int size = sizeof (from);

    // Connecting a datagram socket only picks the route: nothing is sent.
    const auto ok = s != INVALID_SOCKET
                 && ::setsockopt (s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*> (&on), sizeof (on)) == 0
                 && ::connect (s, reinterpret_cast<const sockaddr*> (&to), sizeof (to)) == 0
                 && ::getsockname (s, reinterpret_cast<sockaddr*> (&from), &size) == 0;

    if (! ok)
        why = errorText (::WSAGetLastError());

    if (s != INVALID_SOCKET)
        ::closesocket (s);

    return ok ? ntohl (from.sin_addr.s_addr) : 0;
}
} // namespace portprobe

#include "platform/NetCalls.h"

#include <algorithm>
#include <vector>

#include "platform/WindowsSystem.h"

#include <iphlpapi.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
 #define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace
{
    constexpr auto spinPart = std::chrono::microseconds (100);

    bool isBoundExclusively (int port) noexcept
    {
        const auto probe = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);

        if (probe == INVALID_SOCKET)
            return false;

        int on = 1;
        sockaddr_in any {};
        any.sin_family = AF_INET;
        any.sin_port = htons ((u_short) port);
        any.sin_addr.s_addr = htonl (INADDR_ANY);

        const auto ok = ::setsockopt (probe, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*> (&on), sizeof (on)) == 0
                     && ::bind (probe, reinterpret_cast<const sockaddr*> (&any), sizeof (any)) == 0;
        ::closesocket (probe);
        return ok;
    }

    bool someoneListensOn (int port)
    {
        std::vector<char> buffer;

        // Unknown: better refuse than share the mixer's connection with a stranger.
        if (! readGrowingTable ([] (void* table, unsigned long* size)
                                          {
                                              return ::GetExtendedTcpTable (table, size, FALSE, AF_INET, TCP_TABLE_BASIC_LISTENER, 0);
                                          },
                                          buffer)
            || buffer.size() < sizeof (MIB_TCPTABLE))
            return true;

        const auto* table = reinterpret_cast<const MIB_TCPTABLE*> (buffer.data());

        for (DWORD i = 0; i < table->dwNumEntries; ++i)
            if (ntohs ((u_short) table->table[i].dwLocalPort) == port)
                return true;

        return false;
    }

    // SIO_TCP_INFO and its answer, version 0, as Microsoft documents them
    // (Windows 10 1703 and later). The headers declare them only for builds
    // that require such a Windows; this one runs on older ones too, where the
    // call just fails.
    constexpr DWORD sioTcpInfo = _WSAIORW (IOC_VENDOR, 39);

    struct TcpInfoV0
    {
        int state;
        ULONG mss;
        ULONG64 connectionTimeMs;
        BOOLEAN timestampsEnabled;
        ULONG rttUs, minRttUs, bytesInFlight, cwnd, sndWnd, rcvWnd, rcvBuf;
        ULONG64 bytesOut, bytesIn;
        ULONG bytesReordered, bytesRetrans, fastRetrans, dupAcksIn, timeoutEpisodes;
        UCHAR synRetrans;
    };

    class PauseTimer
    {
    public:
        PauseTimer() noexcept
        {
            // Sleep (1) lasts a whole scheduler tick (up to 15.6 ms) unless the
            // system timer resolution was raised, which Windows 10 2004 and
            // later may ignore for us; a high-resolution timer does not.
            handle = ::CreateWaitableTimerExW (nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);

            if (handle == nullptr)
                handle = ::CreateWaitableTimerExW (nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }

        ~PauseTimer()
        {
            if (handle != nullptr)
                ::CloseHandle (handle);
        }

        void sleep (std::chrono::nanoseconds duration) noexcept
        {
            LARGE_INTEGER due;
            due.QuadPart = -(LONGLONG) (duration.count() / 100); // relative, in 100 ns units

            // Even a coarse timer fires within a tick; the bound only guards against one that never does.
            if (handle != nullptr && ::SetWaitableTimer (handle, &due, 0, nullptr, nullptr, FALSE))
                ::WaitForSingleObject (handle, 50);
        }

    private:
        HANDLE handle = nullptr;
    };
}

namespace netcalls
{
int lastSocketError() noexcept
{
    return ::WSAGetLastError();
}

bool isTransientAcceptError (int error) noexcept
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET;
}

bool setBlocking (int handle, bool shouldBlock) noexcept
{
    u_long nonBlocking = shouldBlock ? 0 : 1;
    return ::ioctlsocket ((SOCKET) handle, FIONBIO, &nonBlocking) == 0;
}

bool setBufferSizes (int handle, int bytes) noexcept
{
    const auto* value = reinterpret_cast<const char*> (&bytes);
    return ::setsockopt ((SOCKET) handle, SOL_SOCKET, SO_RCVBUF, value, sizeof (bytes)) == 0
        && ::setsockopt ((SOCKET) handle, SOL_SOCKET, SO_SNDBUF, value, sizeof (bytes)) == 0;
}

bool bindWithoutReuse (int handle, int port) noexcept
{
    const int off = 0;
    ::setsockopt ((SOCKET) handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*> (&off), sizeof (off));

    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons ((u_short) port);
    local.sin_addr.s_addr = htonl (INADDR_ANY);
    return ::bind ((SOCKET) handle, reinterpret_cast<const sockaddr*> (&local), sizeof (local)) == 0;
}

int waitUntilReadable (int handle, int timeoutMs) noexcept
{
    fd_set set;
    FD_ZERO (&set);
    FD_SET ((SOCKET) handle, &set);
    timeval t { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
    const auto ready = ::select (0, &set, nullptr, nullptr, &t);
    return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

void shutdownBoth (int handle) noexcept
{
    ::shutdown ((SOCKET) handle, SD_BOTH);
}

std::int64_t sendNow (int handle, const void* data, std::size_t size) noexcept
{
    const auto n = ::send ((SOCKET) handle, static_cast<const char*> (data), (int) size, 0);

    if (n != SOCKET_ERROR)
        return n;

    return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

Acknowledgement acknowledgement (int handle, std::int64_t handedOver) noexcept
{
    // Windows 10 1703 and later tell through SIO_TCP_INFO; older systems and
    // Wine answer with an error, and then nothing tells what the peer took:
    // there the transfer ends once the last byte is handed over, as it always did.
    DWORD version = 0, returned = 0;
    TcpInfoV0 info {};

    if (::WSAIoctl ((SOCKET) handle, sioTcpInfo, &version, sizeof (version), &info, sizeof (info),
                    &returned, nullptr, nullptr) != 0
        || returned < sizeof (info))
        return {};

    return acknowledgementFrom ({ info.state, info.bytesOut, info.bytesRetrans, info.bytesInFlight, info.sndWnd }, handedOver);
}

bool mayListenOn (int port)
{
    // Windows' bind rules, as Microsoft documents them (the table of "Using
    // SO_REUSEADDR and SO_EXCLUSIVEADDRUSE" and of "Sharing Transport Addresses"):
    //  - a plain bind to 0.0.0.0:port succeeds beside a socket of another
    //    program bound to one address of that port, which then takes the
    //    connections made to that address: JUCE's plain bind cannot see it;
    //  - an SO_EXCLUSIVEADDRUSE bind to 0.0.0.0:port fails (WSAEADDRINUSE)
    //    whenever any socket uses the port, so it does see such a socket; but
    //    it also fails while a connection that the port accepted in an earlier
    //    run is still in TIME_WAIT, which is the normal state for some minutes
    //    after a technician's first update (our side closes first);
    //  - a plain bind to a listening port whose earlier sockets are all closed
    //    succeeds, lingering accepted connections or not (since Windows 2000).
    // So the exclusive probe answers when it succeeds; when it fails, what
    // matters is whether someone *listens* on the port (on any address): then
    // connections could go to them, and we refuse (C1). Otherwise only our
    // own old connections linger, and the plain bind that follows may go on.
    const WinsockUse winsock;

    if (! winsock.started)
        return false;

    return isBoundExclusively (port) || ! someoneListensOn (port);
}

void preferPreciseSleeps() noexcept
{
}

void pauseUntil (std::chrono::steady_clock::time_point until, const std::function<bool()>& shouldStop) noexcept
{
    using Clock = std::chrono::steady_clock;
    thread_local PauseTimer timer;

    if (const auto now = Clock::now(); now < until - spinPart)
        timer.sleep (std::chrono::duration_cast<std::chrono::nanoseconds> (until - spinPart - now));

    while (Clock::now() < until && ! shouldStop())
    {
    }
}
} // namespace netcalls

#include "platform/NetCalls.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>

namespace
{
    // How long before the pause's end the sleep hands over to the spin: a
    // sleep asked for a millisecond overshoots by tens of microseconds.
    constexpr auto spinPart = std::chrono::microseconds (100);
}

namespace netcalls
{
int lastSocketError() noexcept
{
    return errno;
}

bool isTransientAcceptError (int error) noexcept
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED || error == EPROTO;
}

bool setBlocking (int handle, bool shouldBlock) noexcept
{
    const auto flags = ::fcntl (handle, F_GETFL, 0);
    return flags >= 0 && ::fcntl (handle, F_SETFL, shouldBlock ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

bool setBufferSizes (int handle, int bytes) noexcept
{
    return ::setsockopt (handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof (bytes)) == 0
        && ::setsockopt (handle, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof (bytes)) == 0;
}

bool bindWithoutReuse (int handle, int port) noexcept
{
    const int off = 0;
    ::setsockopt (handle, SOL_SOCKET, SO_REUSEADDR, &off, sizeof (off));

    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons ((std::uint16_t) port);
    local.sin_addr.s_addr = htonl (INADDR_ANY);
    return ::bind (handle, reinterpret_cast<const sockaddr*> (&local), sizeof (local)) == 0;
}

int waitUntilReadable (int handle, int timeoutMs) noexcept
{
    pollfd p { handle, POLLIN, 0 };
    const auto ready = ::poll (&p, 1, timeoutMs);

    if (ready < 0)
        return errno == EINTR ? 0 : -1;

    return ready > 0 ? 1 : 0;
}

void shutdownBoth (int handle) noexcept
{
    ::shutdown (handle, SHUT_RDWR);
}

std::int64_t sendNow (int handle, const void* data, std::size_t size) noexcept
{
    for (;;)
    {
        const auto n = ::send (handle, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);

        if (n >= 0)
            return n;

        if (errno != EINTR)
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

Acknowledgement acknowledgement (int handle, std::int64_t) noexcept
{
    tcp_info info {};
    socklen_t size = sizeof (info);
    int queued = 0;

    if (::getsockopt (handle, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || ::ioctl (handle, SIOCOUTQ, &queued) != 0)
        return {};

    // A reset empties the send queue: a connection that is gone must never
    // read as one whose peer took everything. A peer that closed its side
    // after reading (CLOSE_WAIT) still acknowledges what it got.
    if (info.tcpi_state != TCP_ESTABLISHED && info.tcpi_state != TCP_CLOSE_WAIT)
        return { Acknowledgement::Peer::failed, 0 };

    return { Acknowledgement::Peer::connected, queued };
}

bool mayListenOn (int)
{
    return true;
}

void preferPreciseSleeps() noexcept
{
    // With the default 50 µs of timer slack every sleep overshoots.
    ::prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

void pauseUntil (std::chrono::steady_clock::time_point until, const std::function<bool()>& shouldStop) noexcept
{
    using Clock = std::chrono::steady_clock;
    const auto sleepUntil = until - spinPart;

    if (const auto now = Clock::now(); now < sleepUntil)
    {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds> (sleepUntil - now).count();
        timespec interval { (time_t) (ns / 1000000000), (long) (ns % 1000000000) };
        ::nanosleep (&interval, nullptr);
    }

    while (Clock::now() < until && ! shouldStop())
    {
    }
}
} // namespace netcalls

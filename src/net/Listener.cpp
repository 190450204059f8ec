#include "net/Listener.h"
#include "net/CallOnExit.h"

#include <cerrno>

#if defined (_WIN32)
 #include <winsock2.h>
 #include <ws2tcpip.h>
#else
 #include <fcntl.h>
 #include <poll.h>
 #include <sys/socket.h>
#endif

namespace
{
    // Upper bound between two looks at the exit flag; a destroy normally wakes
    // the wait at once by shutting the listening socket down.
    constexpr int pollMilliseconds = 50;

   #if defined (_WIN32)
    constexpr int SHUT_RDWR = SD_BOTH;

    int poll (pollfd* fds, unsigned long count, int timeoutMs) noexcept
    {
        return ::WSAPoll (fds, count, timeoutMs);
    }

    // Windows lets a socket bound to one address of the port, or one with
    // SO_REUSEADDR, share a port that we hold on 0.0.0.0 without plain
    // sockets: both binds succeed and connections go to either. JUCE's
    // listener cannot be given SO_EXCLUSIVEADDRUSE before its bind, so the
    // port is first taken exclusively on its own: if that fails, someone else
    // holds or shares it and we must not claim to listen.
    //
    // This probe is the process's first socket when the tool starts: JUCE
    // starts Winsock only in its own socket constructors, and the interface
    // query has balanced its start already. So the probe starts (and ends) its
    // own use of Winsock, or its socket() fails with WSANOTINITIALISED.
    bool portIsFreeForUsAlone (int port) noexcept
    {
        WSADATA data;

        if (::WSAStartup (MAKEWORD (2, 2), &data) != 0)
            return false;

        const auto probe = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);

        if (probe == INVALID_SOCKET)
        {
            ::WSACleanup();
            return false;
        }

        int on = 1;
        sockaddr_in any {};
        any.sin_family = AF_INET;
        any.sin_port = htons ((u_short) port);
        any.sin_addr.s_addr = htonl (INADDR_ANY);

        const auto ok = ::setsockopt (probe, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*> (&on), sizeof (on)) == 0
                     && ::bind (probe, reinterpret_cast<const sockaddr*> (&any), sizeof (any)) == 0;
        ::closesocket (probe);
        ::WSACleanup();
        return ok;
    }
   #endif

    bool setBlocking (int handle, bool shouldBlock) noexcept
    {
       #if defined (_WIN32)
        u_long nonBlocking = shouldBlock ? 0 : 1;
        return ::ioctlsocket ((SOCKET) handle, FIONBIO, &nonBlocking) == 0;
       #else
        const auto flags = ::fcntl (handle, F_GETFL, 0);
        return flags >= 0 && ::fcntl (handle, F_SETFL, shouldBlock ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
       #endif
    }

    bool isTransientAcceptError (int error) noexcept
    {
       #if defined (_WIN32)
        // Winsock reports through WSAGetLastError, never errno.
        error = ::WSAGetLastError();
        return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET;
       #else
        return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED || error == EPROTO;
       #endif
    }
}

Listener::Listener (int portToListenOn)
    : juce::Thread ("QVR7000_UPDATE"),
      port (portToListenOn)
{
}

Listener::~Listener()
{
    // JUCE's own close() wakes a blocked accept by connecting to it from
    // 127.0.0.1, which would look like a peer, and it writes fields that the
    // listening thread reads. Instead the thread never blocks in accept: a
    // shutdown of the listening handle wakes its poll, and the socket is closed
    // only after the thread is gone.
    signalThreadShouldExit();

    const auto handle = listenHandle.load();

    if (handle >= 0)
        ::shutdown (handle, SHUT_RDWR);

    stopThread (-1);

    // Not listening any more, so the wake-up connect of JUCE's close() is refused at once.
    if (listenSocket != nullptr)
        ::shutdown (listenSocket->getRawSocketHandle(), SHUT_RDWR);

    listenSocket.reset();
}

bool Listener::waitUntilListening (int timeoutMs) const
{
    listenAttempted.wait (timeoutMs);
    return boundPort.load() > 0;
}

std::unique_ptr<juce::StreamingSocket> Listener::takeConnection()
{
    if (status.load() != connected)
        return {};

    return std::move (connection);
}

void Listener::run()
{
    const CallOnExit finished { onFinished };

   #if defined (_WIN32)
    if (port != 0 && ! portIsFreeForUsAlone (port))
    {
        status = cannotListen;
        listenAttempted.signal();
        return;
    }
   #endif

    auto socket = std::make_unique<juce::StreamingSocket>();

    if (! socket->createListener (port) || ! setBlocking (socket->getRawSocketHandle(), false))
    {
        status = cannotListen;
        listenAttempted.signal();
        return;
    }

    listenSocket = std::move (socket);
    listenHandle = listenSocket->getRawSocketHandle();
    boundPort = listenSocket->getBoundPort();
    listenAttempted.signal();

    status = acceptOne();
}

int Listener::acceptOne()
{
    const auto handle = listenSocket->getRawSocketHandle();

    while (! threadShouldExit())
    {
        pollfd p { handle, POLLIN, 0 };
        const auto ready = ::poll (&p, 1, pollMilliseconds);

        if (ready < 0 && errno != EINTR)
            return endedWithoutPeer;

        if (ready <= 0)
            continue;

        // A shut-down listening socket reports itself readable; accept then fails for good.
        std::unique_ptr<juce::StreamingSocket> peer (listenSocket->waitForNextConnection());

        if (peer == nullptr)
        {
            if (isTransientAcceptError (errno) && ! threadShouldExit())
                continue;

            return endedWithoutPeer;
        }

        // A peer that arrives while we are being destroyed is nobody's to take.
        if (threadShouldExit())
            return endedWithoutPeer;

        // Accepted sockets do not inherit O_NONBLOCK on Linux; make sure anyway,
        // since the transfer relies on blocking sends.
        setBlocking (peer->getRawSocketHandle(), true);

        // Published before the status: whoever sees connected finds it in place.
        connection = std::move (peer);
        return connected;
    }

    return endedWithoutPeer;
}

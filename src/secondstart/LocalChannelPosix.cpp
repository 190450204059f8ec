#include "secondstart/LocalChannel.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
    // Upper bound between two looks at the exit flag; stop() normally wakes the
    // wait at once by shutting the listening socket down.
    constexpr int pollMilliseconds = 50;

    // A peer gets this long to send its request and end it; ours does so at once.
    constexpr juce::uint32 readMilliseconds = 500;

    struct Address
    {
        sockaddr_un address {};
        socklen_t length = 0;
    };

    // In the abstract namespace: nothing in the file system to leave behind after
    // a crash, and the name is free again as soon as its owner is gone.
    bool makeAddress (const std::string& name, Address& result)
    {
        if (name.empty() || name.size() + 1 > sizeof (result.address.sun_path))
            return false;

        result.address.sun_family = AF_UNIX;
        std::memcpy (result.address.sun_path + 1, name.data(), name.size());
        result.length = (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + name.size());
        return true;
    }

    int makeSocket()
    {
        return ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    }

    /** Reads until the peer ends its side; false on a timeout, an error, more than
        limit bytes, or a stop request.
    */
    bool readToEnd (int handle, std::string& out, size_t limit, juce::uint32 milliseconds,
                    const std::function<bool()>& shouldStop)
    {
        const auto end = juce::Time::getMillisecondCounter() + milliseconds;
        char buffer[64];

        while (! (shouldStop && shouldStop()))
        {
            const auto now = juce::Time::getMillisecondCounter();

            if (now >= end)
                return false;

            pollfd waiting { handle, POLLIN, 0 };

            if (::poll (&waiting, 1, (int) juce::jmin ((juce::uint32) pollMilliseconds, end - now)) <= 0)
                continue;

            const auto n = ::recv (handle, buffer, sizeof (buffer), 0);

            if (n == 0)
                return true;

            if (n < 0)
            {
                if (errno == EAGAIN || errno == EINTR)
                    continue;

                return false;
            }

            out.append (buffer, (size_t) n);

            if (out.size() > limit)
                return false;
        }

        return false;
    }

    bool isSameUser (int connection)
    {
        ucred peer {};
        socklen_t size = sizeof (peer);
        return ::getsockopt (connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
    }
}

bool LocalChannel::start()
{
    if (listenHandle >= 0)
        return true;

    Address address;

    if (! makeAddress (name, address))
        return false;

    const int handle = makeSocket();

    if (handle < 0)
        return false;

    if (::bind (handle, reinterpret_cast<const sockaddr*> (&address.address), address.length) != 0
        || ::listen (handle, 4) != 0)
    {
        ::close (handle);
        return false;
    }

    listenHandle = handle;

    if (! startThread())
    {
        ::close (handle);
        listenHandle = -1;
        return false;
    }

    return true;
}

void LocalChannel::stop()
{
    if (listenHandle < 0)
        return;

    signalThreadShouldExit();
    ::shutdown ((int) listenHandle, SHUT_RDWR);
    stopThread (-1);
    ::close ((int) listenHandle);
    listenHandle = -1;
}

std::string LocalChannel::nameFor (const juce::String& applicationName)
{
    // The abstract namespace is shared by every user of the network namespace.
    return applicationName.toStdString() + ".raise." + std::to_string (::getuid());
}

bool LocalChannel::exchange (const std::string& channelName, const std::string& request,
                             int timeoutMs, std::string& answer)
{
    answer.clear();
    Address address;

    if (! makeAddress (channelName, address))
        return false;

    const int handle = makeSocket();

    if (handle < 0)
        return false;

    // Non-blocking, so a listener that takes no connections fails the connect at
    // once; the request fits any socket buffer.
    if (::connect (handle, reinterpret_cast<const sockaddr*> (&address.address), address.length) != 0)
    {
        ::close (handle);
        return false;
    }

    const bool sent = ::send (handle, request.data(), request.size(), MSG_NOSIGNAL) == (ssize_t) request.size();
    ::shutdown (handle, SHUT_WR);

    if (! sent || ! readToEnd (handle, answer, maxAnswerBytes, (juce::uint32) juce::jmax (0, timeoutMs), {}))
        answer.clear();

    ::close (handle);
    return true;
}

void LocalChannel::run()
{
    const std::function<bool()> stopping = [this] { return threadShouldExit(); };

    while (! threadShouldExit())
    {
        pollfd waiting { (int) listenHandle, POLLIN, 0 };

        if (::poll (&waiting, 1, pollMilliseconds) <= 0)
            continue;

        const int connection = ::accept4 ((int) listenHandle, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);

        if (connection < 0)
        {
            // Out of handles, say: no busy loop on a socket that stays readable.
            wait (pollMilliseconds);
            continue;
        }

        std::string request;

        if (isSameUser (connection) && readToEnd (connection, request, maxRequestBytes, readMilliseconds, stopping))
        {
            const auto answer = answerer (request, stopping);

            // A few bytes on a fresh connection: they fit its buffer, so this never waits.
            if (! answer.empty())
                ::send (connection, answer.data(), answer.size(), MSG_NOSIGNAL);
        }

        ::close (connection);
    }
}

#include "platform/RaiseRequests.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
    constexpr char word[] = "raise";
    constexpr size_t wordLength = sizeof (word) - 1;

    // Upper bound between two looks at the exit flag; stop() normally wakes the
    // wait at once by shutting the listening socket down.
    constexpr int pollMilliseconds = 50;

    // A peer gets this long to say its word and hang up; ours does so at once.
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
}

RaiseRequests::RaiseRequests (std::string socketName, std::function<void()> onRequest)
    : juce::Thread ("QVR7000_RAISE"),
      name (std::move (socketName)),
      delivery (std::make_shared<Delivery>())
{
    delivery->onRequest = std::move (onRequest);
}

RaiseRequests::~RaiseRequests()
{
    stop();
}

bool RaiseRequests::start()
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
        ::close (listenHandle);
        listenHandle = -1;
        return false;
    }

    return true;
}

void RaiseRequests::stop()
{
    delivery->live = false;

    if (listenHandle < 0)
        return;

    signalThreadShouldExit();
    ::shutdown (listenHandle, SHUT_RDWR);
    stopThread (-1);
    ::close (listenHandle);
    listenHandle = -1;
}

std::string RaiseRequests::socketNameFor (const juce::String& applicationName)
{
    // The abstract namespace is shared by every user of the network namespace.
    return applicationName.toStdString() + ".raise." + std::to_string (::getuid());
}

bool RaiseRequests::send (const std::string& socketName)
{
    Address address;

    if (! makeAddress (socketName, address))
        return false;

    const int handle = makeSocket();

    if (handle < 0)
        return false;

    // Non-blocking, so a listener that takes no connections fails the connect at
    // once; the word fits any socket buffer.
    const bool sent = ::connect (handle, reinterpret_cast<const sockaddr*> (&address.address), address.length) == 0
                      && ::send (handle, word, wordLength, MSG_NOSIGNAL) == (ssize_t) wordLength;
    ::close (handle);
    return sent;
}

void RaiseRequests::askRunningInstance (const juce::String& applicationName)
{
    {
        // The lock JUCE takes for a one-instance application. fcntl locks end
        // when any handle of ours on the file closes, so ours is gone before
        // JUCE opens its own.
        juce::InterProcessLock lock ("juceAppLock_" + applicationName);

        if (lock.enter (0))
        {
            lock.exit();
            return;
        }
    }

    send (socketNameFor (applicationName));
}

void RaiseRequests::run()
{
    while (! threadShouldExit())
    {
        pollfd waiting { listenHandle, POLLIN, 0 };

        if (::poll (&waiting, 1, pollMilliseconds) <= 0)
            continue;

        const int connection = ::accept4 (listenHandle, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);

        if (connection < 0)
        {
            // Out of handles, say: no busy loop on a socket that stays readable.
            wait (pollMilliseconds);
            continue;
        }

        // Delivered before the connection closes, so a peer that sees the close
        // knows its request is already queued.
        if (isRequest (connection))
        {
            juce::MessageManager::callAsync ([target = delivery]
            {
                if (target->live)
                    target->onRequest();
            });
        }

        ::close (connection);
    }
}

bool RaiseRequests::isRequest (int connection)
{
    ucred peer {};
    socklen_t size = sizeof (peer);

    if (::getsockopt (connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid())
        return false;

    // One byte more than the word, to tell the word from a longer message.
    char said[wordLength + 1];
    size_t got = 0;
    const auto end = juce::Time::getMillisecondCounter() + readMilliseconds;

    while (! threadShouldExit())
    {
        const auto now = juce::Time::getMillisecondCounter();

        if (now >= end)
            return false;

        pollfd waiting { connection, POLLIN, 0 };

        if (::poll (&waiting, 1, (int) juce::jmin ((juce::uint32) pollMilliseconds, end - now)) <= 0)
            continue;

        const auto n = ::recv (connection, said + got, sizeof (said) - got, 0);

        if (n == 0)
            return got == wordLength && std::memcmp (said, word, wordLength) == 0;

        if (n < 0)
        {
            if (errno == EAGAIN || errno == EINTR)
                continue;

            return false;
        }

        got += (size_t) n;

        if (got == sizeof (said))
            return false;
    }

    return false;
}

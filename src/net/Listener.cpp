#include "net/Listener.h"
#include "net/CallOnExit.h"

#include "platform/NetCalls.h"

namespace
{
    // Upper bound between two looks at the exit flag; a destroy normally wakes
    // the wait at once by shutting the listening socket down.
    constexpr int pollMilliseconds = 50;
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
        netcalls::shutdownBoth (handle);

    stopThread (-1);

    // Not listening any more, so the wake-up connect of JUCE's close() is refused at once.
    if (listenSocket != nullptr)
        netcalls::shutdownBoth (listenSocket->getRawSocketHandle());

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

    auto socket = std::make_unique<juce::StreamingSocket>();

    if ((port != 0 && ! netcalls::mayListenOn (port))
        || ! socket->createListener (port)
        || ! netcalls::setBlocking (socket->getRawSocketHandle(), false))
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
        const auto ready = netcalls::waitUntilReadable (handle, pollMilliseconds);

        if (ready < 0)
            return endedWithoutPeer;

        if (ready == 0)
            continue;

        // A shut-down listening socket reports itself readable; accept then fails for good.
        std::unique_ptr<juce::StreamingSocket> peer (listenSocket->waitForNextConnection());

        if (peer == nullptr)
        {
            if (netcalls::isTransientAcceptError (netcalls::lastSocketError()) && ! threadShouldExit())
                continue;

            return endedWithoutPeer;
        }

        // A peer that arrives while we are being destroyed is nobody's to take.
        if (threadShouldExit())
            return endedWithoutPeer;

        if (onConnection)
        {
            onConnection (std::move (peer));
            continue;
        }

        // Published before the status: whoever sees connected finds it in place.
        connection = std::move (peer);
        return connected;
    }

    return endedWithoutPeer;
}

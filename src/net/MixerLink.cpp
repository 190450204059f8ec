#include "net/MixerLink.h"

namespace
{
// The worker sleeps until a link thread finishes or a stop request comes (both
// wake it at once); this only bounds how stale the progress figures get.
constexpr int progressIntervalMs = 50;
constexpr int idleWaitMs = 100;

// Binding a local port takes well under a millisecond; this only bounds a sick system.
constexpr int listenTimeoutMs = 1000;
} // namespace

MixerLink::MixerLink() : MixerLink (Settings {}) {}

MixerLink::MixerLink (Settings s) : settings (std::move (s)) {}

MixerLink::~MixerLink()
{
    // Threads first: the broadcaster reads the environment, the transfer uses the connection.
    transfer.reset();
    listener.reset();
    broadcaster.reset();
    connection.reset();
    environment.reset();
}

int MixerLink::runInitialiseStep()
{
    environment = std::make_unique<UpdateEnvironment> (settings.updateFile, settings.interfaces);
    return environment->getStatus();
}

int MixerLink::endConnect (int status)
{
    if (broadcaster != nullptr)
        broadcaster->stopThread (-1);

    broadcaster.reset();
    listener.reset();
    return status;
}

int MixerLink::runConnectStep (juce::Thread& worker)
{
    if (environment == nullptr || environment->getStatus() != UpdateEnvironment::ok)
        return Listener::cannotListen;

    // The port is open before the first announcement names it, so a mixer that
    // answers the very first datagram is not refused.
    listener = std::make_unique<Listener> (settings.listenerPort);
    listener->onFinished = [&worker] { worker.notify(); };
    listener->startThread();
    listener->waitUntilListening (listenTimeoutMs);

    if (settings.onListening != nullptr && listener->getPort() > 0)
        settings.onListening (*listener);

    // A mixer that still knows our address from an earlier run may connect
    // before anything is announced: that peer is taken like any other.
    if (listener->getStatus() == Listener::listening)
    {
        broadcaster = std::make_unique<Broadcast> (*environment, settings.listenerPort, settings.announcePort);
        broadcaster->onFinished = [&worker] { worker.notify(); };
        broadcaster->startThread();
    }

    for (;;)
    {
        const int status = listener->getStatus();

        if (status == Listener::connected)
            break;

        if (status != Listener::listening)
            return endConnect (status);

        // The announcer only ends on its own when it failed: waiting on
        // without announcements would leave the user waiting for nothing.
        if (const int announcing = broadcaster->getStatus(); announcing != Broadcast::running)
            return endConnect (announcing == Broadcast::stopped ? Broadcast::sendFailed : announcing);

        if (worker.threadShouldExit())
            return endConnect (-1);

        worker.wait (idleWaitMs);
    }

    connection = listener->takeConnection();
    return endConnect (0);
}

void MixerLink::publishProgress (const Update& update)
{
    totalBytes = update.getTotalBytes();
    bytesSent = update.getBytesSent();
}

int MixerLink::runSendStep (juce::Thread& worker)
{
    if (connection == nullptr)
        return Update::lengthSendFailed;

    transfer = std::make_unique<Update> (*connection, settings.updateFile);
    transfer->onFinished = [&worker] { worker.notify(); };
    transfer->startThread();

    int status = transfer->getStatus();

    while (status == Update::sending && ! worker.threadShouldExit())
    {
        publishProgress (*transfer);
        worker.wait (progressIntervalMs);
        status = transfer->getStatus();
    }

    publishProgress (*transfer);
    transfer.reset();
    return status;
}

SendProgress MixerLink::getSendProgress() const
{
    return { bytesSent.load(), totalBytes.load() };
}

juce::String MixerLink::getMixerAddress() const
{
    return connection != nullptr ? connection->getHostName() : juce::String();
}

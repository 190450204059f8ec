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

int MixerLink::runInitialiseStep (juce::Thread& worker)
{
    environment = std::make_unique<UpdateEnvironment> (settings.updateFile, settings.interfaces,
                                                       [&worker] { return worker.threadShouldExit(); });

    // Known from here on, so the progress never reads "0 / 0 B".
    totalBytes = juce::jmax ((juce::int64) 0, environment->getUpdateFileSize());
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
        broadcaster = std::make_unique<Broadcast> (*environment, listener->getPort(), settings.announcePort);
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
    bytesTaken = update.getBytesTaken();
}

int MixerLink::runSendStep (juce::Thread& worker)
{
    if (connection == nullptr)
        return Update::lengthSendFailed;

    transfer = std::make_unique<Update> (*connection, settings.updateFile,
                                         environment != nullptr ? environment->getUpdateFileSize() : -1);
    transfer->onFinished = [&worker] { worker.notify(); };
    sendStartedMs = juce::Time::getMillisecondCounterHiRes();
    transfer->startThread();

    int status = transfer->getStatus();

    while (status == Update::sending && ! worker.threadShouldExit())
    {
        publishProgress (*transfer);
        worker.wait (progressIntervalMs);
        status = transfer->getStatus();
    }

    // Stopped: the thread ends first, so that what it hashed and found is final.
    transfer->stopThread (-1);
    publishProgress (*transfer);
    delivered = transfer->isDelivered();
    sentSha256 = transfer->getSentSha256();
    transfer.reset();
    return status;
}

SendProgress MixerLink::getSendProgress() const
{
    const auto started = sendStartedMs.load();
    const auto seconds = started > 0.0 ? (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0 : 0.0;
    return { bytesTaken.load(), totalBytes.load(), seconds };
}

juce::String MixerLink::getMixerAddress() const
{
    return connection != nullptr ? connection->getHostName() : juce::String();
}

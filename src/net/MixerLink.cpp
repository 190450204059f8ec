#include "net/MixerLink.h"

namespace
{
// The worker sleeps until a link thread finishes or a stop request comes (both
// wake it at once); this only bounds how stale the progress figures get.
constexpr int progressIntervalMs = 50;
constexpr int idleWaitMs = 100;
} // namespace

MixerLink::MixerLink() : MixerLink (Settings {}) {}

MixerLink::MixerLink (Settings s) : settings (std::move (s)) {}

MixerLink::~MixerLink()
{
    // Threads first: the broadcaster reads the environment, the transfer uses the connection.
    transfer.reset();
    waiting.reset();
    connection.reset();
    environment.reset();
}

int MixerLink::runInitialiseStep (juce::Thread& worker)
{
    environment = settings.checkEnvironment (worker);

    // Known from here on, so the progress never reads "0 / 0 B".
    totalBytes = juce::jmax ((juce::int64) 0, environment->getUpdateFileSize());
    return environment->getStatus();
}

int MixerLink::runConnectStep (juce::Thread& worker)
{
    if (environment == nullptr || environment->getStatus() != UpdateEnvironment::ok)
        return Listener::cannotListen;

    waiting = std::make_unique<MixerWait> (settings, *environment, worker);
    int outcome = 0;

    for (;;)
    {
        if (waiting->getListener().getStatus() == Listener::connected)
        {
            connection = waiting->getListener().takeConnection();
            break;
        }

        if (outcome = waiting->getFailure(); outcome != 0)
            break;

        if (worker.threadShouldExit())
        {
            outcome = -1;
            break;
        }

        worker.wait (idleWaitMs);
    }

    waiting.reset();
    return outcome;
}

void MixerLink::publishProgress (const Update& update)
{
    bytesTaken = update.getBytesTaken();
    secondsWithoutTaking = update.getSecondsWithoutTaking();
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
    return { bytesTaken.load(), totalBytes.load(), seconds, secondsWithoutTaking.load() };
}

juce::String MixerLink::getMixerAddress() const
{
    return connection != nullptr ? connection->getHostName() : juce::String();
}

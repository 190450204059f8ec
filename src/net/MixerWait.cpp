#include "net/MixerWait.h"

#include "net/MixerLinkSettings.h"

MixerWait::MixerWait (const MixerLinkSettings& settings, const UpdateEnvironment& environment, juce::Thread& worker,
                      std::function<void (std::unique_ptr<juce::StreamingSocket>)> onConnection)
{
    listener = std::make_unique<Listener> (settings.listenerPort);
    listener->onConnection = std::move (onConnection);
    listener->onFinished = [&worker] { worker.notify(); };
    listener->startThread();

    // A port that does not listen by then is not announced, never as port 0:
    // the wait ends as the listen failure it is.
    if (! listener->waitUntilListening (settings.listenTimeoutMs))
    {
        listener->signalThreadShouldExit();
        notListening = true;
        return;
    }

    if (settings.onListening != nullptr)
        settings.onListening (*listener);

    // A mixer that still knows our address from an earlier run may connect
    // before anything is announced: that peer is taken like any other.
    if (listener->getStatus() == Listener::listening)
    {
        broadcaster = std::make_unique<Broadcast> (environment, listener->getPort(), settings.announcePort);
        broadcaster->onFinished = [&worker] { worker.notify(); };
        broadcaster->startThread();
    }
}

MixerWait::~MixerWait()
{
    if (broadcaster != nullptr)
        broadcaster->stopThread (-1);

    broadcaster.reset();
    listener.reset();
}

int MixerWait::getFailure() const noexcept
{
    if (notListening)
        return Listener::cannotListen;

    const auto listening = listener->getStatus();

    if (listening != Listener::listening && listening != Listener::connected)
        return listening;

    // The announcer only ends on its own when it failed: waiting on without
    // announcements would leave the user waiting for nothing.
    if (broadcaster != nullptr)
        if (const auto announcing = broadcaster->getStatus(); announcing != Broadcast::running)
            return announcing == Broadcast::stopped ? (int) Broadcast::sendFailed : announcing;

    return 0;
}

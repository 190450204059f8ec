#include "net/MixerFleet.h"

#include "net/Update.h"

namespace
{
    // The worker sleeps until something happens (a mixer in, a transfer ended,
    // a stop); this only bounds how late a time-out is noticed.
    constexpr int idleWaitMs = 100;

    constexpr int listenTimeoutMs = 1000;

    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }
}

MixerFleet::MixerFleet (Settings s) : settings (std::move (s)) {}

MixerFleet::~MixerFleet()
{
    // Threads first: the pacer uses the connections, the broadcaster the environment.
    listener.reset();
    broadcaster.reset();
    pacer.reset();
    mixers.clear();
}

int MixerFleet::runInitialiseStep (juce::Thread& worker)
{
    environment = std::make_unique<UpdateEnvironment> (settings.updateFile, settings.interfaces,
                                                       [&worker] { return worker.threadShouldExit(); });
    return environment->getStatus();
}

void MixerFleet::note (Event::Kind kind, const juce::String& address)
{
    const std::lock_guard<std::mutex> guard (lock);
    events.push_back ({ kind, address });
}

std::vector<MixerFleet::Event> MixerFleet::takeEvents()
{
    const std::lock_guard<std::mutex> guard (lock);
    return std::exchange (events, {});
}

std::vector<MixerFleet::MixerState> MixerFleet::getMixers() const
{
    const std::lock_guard<std::mutex> guard (lock);
    std::vector<MixerState> states;

    for (auto& m : mixers)
    {
        const auto& s = *m->session;
        const auto end = m->endedMs > 0.0 ? m->endedMs : nowMs();
        states.push_back ({ m->address, s.getBytesTaken(), s.getTotalBytes(), s.getStatus(), s.isDelivered(),
                            (end - m->connectedMs) / 1000.0, m->endedMs > 0.0 ? m->session->getSentSha256() : juce::String() });
    }

    return states;
}

void MixerFleet::take (std::unique_ptr<juce::StreamingSocket> connection, juce::Thread& worker)
{
    const auto address = connection->getHostName();
    const bool allowed = settings.allowed.isEmpty() || settings.allowed.contains (address);

    {
        const std::lock_guard<std::mutex> guard (lock);

        // Closed before a byte goes out: a stranger on a shared network (a port
        // scan, another tool) must never take the firmware, nor a mixer too many.
        if (allowed && (int) mixers.size() < settings.expected)
        {
            auto m = std::make_unique<Mixer>();
            m->address = address;
            m->connectedMs = nowMs();
            m->session = std::make_shared<TransferSession> (*connection, settings.updateFile, environment->getUpdateFileSize());
            m->connection = std::move (connection);
            pacer->add (m->session);
            mixers.push_back (std::move (m));
            ++running;
            events.push_back ({ Event::Kind::connected, address });
        }
        else
        {
            events.push_back ({ allowed ? Event::Kind::surplus : Event::Kind::refused, address });
        }
    }

    connection.reset();
    worker.notify();
}

void MixerFleet::sessionEnded (TransferSession& session, juce::Thread& worker)
{
    {
        const std::lock_guard<std::mutex> guard (lock);

        for (auto& m : mixers)
        {
            if (m->session.get() == &session)
            {
                m->endedMs = nowMs();
                events.push_back ({ Event::Kind::ended, m->address });
            }
        }

        --running;
    }

    worker.notify();
}

void MixerFleet::endListening()
{
    // A mixer that connects from now on finds the port closed.
    if (broadcaster != nullptr)
        broadcaster->stopThread (-1);

    broadcaster.reset();
    listener.reset();
}

int MixerFleet::runConnectAndSendStep (juce::Thread& worker)
{
    if (environment == nullptr || environment->getStatus() != UpdateEnvironment::ok)
        return Listener::cannotListen;

    pacer = std::make_unique<Pacer>();
    pacer->onFinished = [this, &worker] (TransferSession& s) { sessionEnded (s, worker); };
    pacer->startThread();

    // As for one mixer: the port listens before the first announcement names it.
    listener = std::make_unique<Listener> (settings.listenerPort);
    listener->onConnection = [this, &worker] (std::unique_ptr<juce::StreamingSocket> c) { take (std::move (c), worker); };
    listener->onFinished = [&worker] { worker.notify(); };
    listener->startThread();
    listener->waitUntilListening (listenTimeoutMs);

    if (settings.onListening != nullptr && listener->getPort() > 0)
        settings.onListening (*listener);

    if (listener->getStatus() != Listener::listening)
    {
        const auto failed = listener->getStatus();
        endListening();
        return failed;
    }

    broadcaster = std::make_unique<Broadcast> (*environment, listener->getPort(), settings.announcePort);
    broadcaster->onFinished = [&worker] { worker.notify(); };
    broadcaster->startThread();

    const auto started = nowMs();
    int outcome = 0;

    for (;;)
    {
        if (worker.threadShouldExit())
        {
            outcome = -1;
            break;
        }

        int connected = 0, stillRunning = 0;

        {
            const std::lock_guard<std::mutex> guard (lock);
            connected = (int) mixers.size();
            stillRunning = running;
        }

        if (listener != nullptr)
        {
            const bool allIn = connected >= settings.expected;
            const bool late = settings.connectTimeoutSeconds > 0.0 && nowMs() - started >= settings.connectTimeoutSeconds * 1000.0;
            const int announcing = broadcaster->getStatus();
            const bool failed = listener->getStatus() != Listener::listening || announcing != Broadcast::running;

            if (failed && connected == 0)
            {
                outcome = listener->getStatus() != Listener::listening ? listener->getStatus()
                        : announcing == Broadcast::stopped ? (int) Broadcast::sendFailed : announcing;
                break;
            }

            // Those that are in are served to the end in any case.
            if (allIn || late || failed)
            {
                timedOut = late && ! allIn;
                listeningFailure = failed && ! allIn ? (listener->getStatus() != Listener::listening ? listener->getStatus()
                                                                                                     : (int) Broadcast::sendFailed)
                                                     : 0;
                endListening();
            }
        }

        if (listener == nullptr && stillRunning == 0)
            break;

        worker.wait (idleWaitMs);
    }

    endListening();

    // Whatever still runs ends as stopped, before the step reports.
    pacer.reset();
    return outcome;
}

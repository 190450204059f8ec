#include "net/MixerFleet.h"

#include "net/Update.h"

namespace
{
    // The worker sleeps until something happens (a mixer in, a transfer ended,
    // a stop); this only bounds how late a time-out is noticed.
    constexpr int idleWaitMs = 100;

    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }
}

MixerFleet::MixerFleet (Settings s) : settings (std::move (s)) {}

MixerFleet::~MixerFleet()
{
    // Threads first: the pacer uses the connections, the announcer the environment.
    waiting.reset();
    pacer.reset();
    mixers.clear();
}

int MixerFleet::runInitialiseStep (juce::Thread& worker)
{
    environment = settings.link.checkEnvironment (worker);
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
        // The checked size stands in until the length has gone out, so the
        // progress never reads "0 / 0 B".
        const auto total = s.getTotalBytes() > 0 ? s.getTotalBytes() : juce::jmax ((juce::int64) 0, environment->getUpdateFileSize());
        states.push_back ({ m->address, s.getBytesTaken(), total, s.getStatus(), s.isDelivered(),
                            (end - m->connectedMs) / 1000.0, s.getSecondsWithoutTaking(),
                            m->endedMs > 0.0 ? m->session->getSentSha256() : juce::String() });
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
            m->session = std::make_shared<TransferSession> (*connection, settings.link.updateFile, environment->getUpdateFileSize());
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

int MixerFleet::runConnectAndSendStep (juce::Thread& worker)
{
    if (environment == nullptr || environment->getStatus() != UpdateEnvironment::ok)
        return Listener::cannotListen;

    pacer = std::make_unique<Pacer>();
    pacer->onFinished = [this, &worker] (TransferSession& s) { sessionEnded (s, worker); };
    pacer->startThread();

    waiting = std::make_unique<MixerWait> (settings.link, *environment, worker,
                                           [this, &worker] (std::unique_ptr<juce::StreamingSocket> c) { take (std::move (c), worker); });

    if (const auto failed = waiting->getFailure(); failed != 0)
    {
        waiting.reset();
        return failed;
    }

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

        if (waiting != nullptr)
        {
            const bool allIn = connected >= settings.expected;
            const bool late = settings.connectTimeoutSeconds > 0.0 && nowMs() - started >= settings.connectTimeoutSeconds * 1000.0;
            const int failure = waiting->getFailure();

            if (failure != 0 && connected == 0)
            {
                outcome = failure;
                break;
            }

            // Those that are in are served to the end in any case; a mixer that
            // connects from now on finds the port closed. One that came after
            // the count above but before the port closed is in, and counts.
            if (allIn || late || failure != 0)
            {
                waiting.reset();
                const auto in = [this] { const std::lock_guard<std::mutex> guard (lock); return (int) mixers.size(); }();
                timedOut = late && in < settings.expected;
                listeningFailure = in < settings.expected ? failure : 0;
            }
        }

        if (waiting == nullptr && stillRunning == 0)
            break;

        worker.wait (idleWaitMs);
    }

    waiting.reset();

    // Whatever still runs ends as stopped, before the step reports.
    pacer.reset();
    return outcome;
}

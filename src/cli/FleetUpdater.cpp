#include "cli/FleetUpdater.h"

#include "cli/StepRunner.h"
#include "net/Update.h"
#include "platform/Console.h"
#include "resources/TxtLoader.h"

namespace
{
    MixerFleet::Settings fleetSettings (const CommandLineOptions& options, const MixerLink::Settings& link)
    {
        MixerFleet::Settings s;
        s.link = link;
        s.expected = options.fleetSize();
        s.allowed = options.mixerAddresses;
        s.connectTimeoutSeconds = options.timeoutSeconds;
        return s;
    }

    // What became of one mixer, for its line, the summary and the JSON.
    juce::String outcomeOf (const MixerFleet::MixerState& m)
    {
        if (m.status == Update::done)
            return m.delivered ? "delivered" : (m.taken == m.total && m.total > 0 ? "sent" : "interrupted");

        return m.status > 0 ? "S" + juce::String (m.status) : juce::String ("sending");
    }

    bool tookTheFile (const MixerFleet::MixerState& m)
    {
        return m.status == Update::done && m.taken == m.total && m.total > 0;
    }
}

FleetUpdater::FleetUpdater (const ConsoleUpdater& c)
    : console (c),
      expected (c.options.fleetSize()),
      fleet (fleetSettings (c.options, c.settings))
{
}

int FleetUpdater::run (const std::atomic<bool>& interruptRequested)
{
    StepRunner road ({ { StepRunner::initialising, [this] (juce::Thread& t) { return fleet.runInitialiseStep (t); } },
                       { StepRunner::connecting, [this] (juce::Thread& t) { return fleet.runConnectAndSendStep (t); } } });
    const auto started = juce::Time::getMillisecondCounterHiRes();
    road.startThread();

    bool toldWaiting = false, hinted = false;
    double lastProgress = 0;
    ConsoleUpdater::ProgressLine progressLine (console);

    while (! road.done.wait (ConsoleUpdater::lookIntervalMs))
    {
        const auto now = juce::Time::getMillisecondCounterHiRes();

        if (interruptRequested.load())
            road.stop();

        if (! toldWaiting && road.getStage() == StepRunner::connecting && fleet.getEnvironment() != nullptr)
        {
            toldWaiting = true;
            console.sayAnnouncing (*fleet.getEnvironment());
            console.say ("waiting for " + juce::String (expected) + (expected == 1 ? " mixer" : " mixers")
                         + " on TCP port " + juce::String (console.settings.listenerPort) + " (Ctrl-C cancels)");
        }

        for (auto& e : fleet.takeEvents())
            tell (e);

        const auto mixers = fleet.getMixers();

        if (! hinted && mixers.empty() && toldWaiting && (now - started) / 1000.0 >= ConsoleUpdater::hintAfterSeconds)
        {
            hinted = true;
            console.say (ConsoleUpdater::noMixerHint());
        }

        if (now - lastProgress >= ConsoleUpdater::progressIntervalMs)
        {
            lastProgress = now;
            showProgress (progressLine);
        }
    }

    for (auto& e : fleet.takeEvents())
        tell (e);

    if (! fleet.getMixers().empty())
        progressLine.end ({});

    return finish (road.getStage(), road.getResult(), (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0);
}

void FleetUpdater::tell (const MixerFleet::Event& e)
{
    switch (e.kind)
    {
        case MixerFleet::Event::Kind::connected:
            console.say ("mixer " + e.address + " connected; sending " + console.file.getFileName());
            break;

        case MixerFleet::Event::Kind::refused:
            console.say ("ignored a connection from " + e.address + ": not in --mixer");
            break;

        case MixerFleet::Event::Kind::surplus:
            console.say ("ignored a connection from " + e.address + ": all " + juce::String (expected) + " mixers are in");
            break;

        case MixerFleet::Event::Kind::ended:
            for (auto& m : fleet.getMixers())
                if (m.address == e.address && m.status != Update::sending)
                    console.say ("mixer " + m.address + ": " + outcomeOf (m) + " after "
                                 + SendProgress::formatBytes (m.taken) + " in " + juce::String (m.seconds, 1) + " s");
            break;
    }
}

void FleetUpdater::showProgress (ConsoleUpdater::ProgressLine& line)
{
    // One line for them all: how far the slowest of those still sending has got.
    const MixerFleet::MixerState* slowest = nullptr;
    int sending = 0;
    const auto mixers = fleet.getMixers();

    for (auto& m : mixers)
    {
        if (m.status != Update::sending || m.total <= 0)
            continue;

        ++sending;

        if (slowest == nullptr || m.taken * slowest->total < slowest->taken * m.total)
            slowest = &m;
    }

    if (slowest == nullptr)
        return;

    const SendProgress progress { slowest->taken, slowest->total, slowest->seconds };
    line.show (progress, juce::String (sending) + (sending == 1 ? " mixer  " : " mixers  ") + progress.describe()
                             + "  slowest " + slowest->address);
}

int FleetUpdater::finish (int stage, int result, double seconds)
{
    const auto mixers = fleet.getMixers();
    int took = 0, failed = 0;
    juce::String firstFailure;

    for (auto& m : mixers)
    {
        took += tookTheFile (m) ? 1 : 0;

        if (m.status > 0)
        {
            ++failed;
            firstFailure = firstFailure.isEmpty() ? ConsoleUpdater::outcomeMessage (StepRunner::sending, m.status) : firstFailure;
        }
    }

    const auto connected = (int) mixers.size();
    juce::String outcome;
    int status = ConsoleUpdater::sent;

    // A stop, the file or the network first; then the mixers: a failed transfer
    // weighs more than a mixer that never came.
    if (result == -1)
    {
        outcome = "interrupted";
        status = ConsoleUpdater::interrupted;
    }
    else if (result != 0)
    {
        outcome = juce::String (stage == StepRunner::initialising ? "I" : "C") + juce::String (result);
        status = stage == StepRunner::initialising ? ConsoleUpdater::checksFailed : ConsoleUpdater::connectFailed;
    }
    else if (failed > 0)
    {
        outcome = "failed";
        status = ConsoleUpdater::sendFailed;
    }
    else if (connected < expected)
    {
        outcome = fleet.hasTimedOut() ? "timeout" : "C" + juce::String (fleet.getListeningFailure());
        status = fleet.hasTimedOut() ? ConsoleUpdater::noMixerInTime : ConsoleUpdater::connectFailed;
    }
    else
    {
        outcome = "sent";
    }

    if (stage == StepRunner::initialising && result == UpdateEnvironment::updateFileInvalid)
        console.complain (console.file.getFullPathName() + " " + ConsoleUpdater::describeFileProblem (console.file));

    if (fleet.hasTimedOut())
        console.complain (juce::String (connected) + " of " + juce::String (expected) + " mixers connected within "
                          + juce::String (console.options.timeoutSeconds) + " s");

    for (auto& m : mixers)
        console.say (m.address + "  " + SendProgress::formatBytes (m.taken) + " of " + SendProgress::formatBytes (m.total)
                     + "  " + juce::String (m.seconds, 1) + " s  " + outcomeOf (m)
                     + (m.status > 0 ? "  " + ConsoleUpdater::outcomeMessage (StepRunner::sending, m.status) : juce::String()));

    // The window's words where there are some; else how many took the file. A
    // stop once mixers were being served is a cancel of the sending.
    const auto told = result == -1 && connected > 0 ? (int) StepRunner::sending : stage;
    const auto message = result != 0 ? ConsoleUpdater::outcomeMessage (told, result)
                       : status == ConsoleUpdater::sent ? ConsoleUpdater::outcomeMessage (StepRunner::sending, 0)
                       : juce::String (took) + " of " + juce::String (expected) + " mixers took the whole file"
                             + (firstFailure.isNotEmpty() ? "; " + firstFailure : juce::String());
    console::write (message + "\n", console.options.json);

    if (console.options.json)
    {
        std::vector<JsonLine> each;
        juce::String sha256;

        for (auto& m : mixers)
        {
            each.push_back (JsonLine().add ("address", m.address).add ("bytes", m.taken).add ("seconds", m.seconds, 3)
                                .add ("outcome", outcomeOf (m)).add ("delivered", m.delivered).addOrNull ("sha256", m.sha256)
                                .addOrNull ("message", m.status > 0 ? ConsoleUpdater::outcomeMessage (StepRunner::sending, m.status) : juce::String()));
            sha256 = sha256.isEmpty() && tookTheFile (m) ? m.sha256 : sha256;
        }

        console::write (console.fileFields().addOrNull ("sha256", sha256).add ("mixers", each).add ("expected", expected)
                            .add ("connected", connected).add ("delivered", took).add ("seconds", seconds, 3)
                            .add ("outcome", outcome).add ("message", message).add ("exit", status).toString() + "\n",
                        false);
    }

    TxtLoader::deleteInstance();
    return status;
}

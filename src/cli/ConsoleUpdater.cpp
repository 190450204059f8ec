#include "cli/ConsoleUpdater.h"

#include <algorithm>

#include "check/NetworkCheck.h"
#include "cli/CheckReport.h"
#include "cli/ExitStatus.h"
#include "cli/StepRunner.h"
#include "net/Update.h"
#include "platform/Console.h"
#include "platform/SystemText.h"
#include "resources/OutcomeMessages.h"
#include "resources/TxtLoader.h"

namespace
{
    // Where nothing connects within this long, the cause is nearly always a
    // firewall or a mixer on another subnet: say so once.
    constexpr double hintAfterMs = 20000.0;
    constexpr int lookIntervalMs = 50;
    constexpr double progressIntervalMs = 250.0;

    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    juce::String dotted (std::uint32_t address) { return juce::IPAddress (address).toString(); }

    bool matches (const Ipv4Interface& i, const juce::String& wanted)
    {
        return systemtext::fromBytes (i.name.c_str()) == wanted || dotted (i.address) == wanted;
    }

    // What became of one mixer, for its line, the summary and the JSON.
    juce::String mixerOutcome (const MixerFleet::MixerState& m)
    {
        if (m.status == Update::done)
            return m.delivered ? "delivered" : (m.taken == m.total && m.total > 0 ? "sent" : "interrupted");

        return m.status > 0 ? "S" + juce::String (m.status) : juce::String ("sending");
    }

    bool tookTheFile (const MixerFleet::MixerState& m)
    {
        return m.status == Update::done && m.taken == m.total && m.total > 0;
    }

    SendProgress progressOf (const MixerFleet::MixerState& m)
    {
        return { m.taken, m.total, m.seconds, m.secondsWithoutTaking };
    }

    // How far it has got, and when it will be done, or that it waits.
    juce::String amountAndTime (const MixerFleet::MixerState& m)
    {
        const auto progress = progressOf (m);
        return progress.isStalled() ? progress.describeAmount() + "  " + m.address + " has taken nothing for "
                                          + juce::String ((int) m.secondsWithoutTaking) + " s"
                                    : progress.describe();
    }

    juce::String rate (const SendProgress& progress)
    {
        return progress.seconds > 0.5 ? SendProgress::formatBytes ((juce::int64) ((double) progress.taken / progress.seconds)) + "/s"
                                      : juce::String ("--");
    }

    juce::String mixersText (int count)
    {
        return juce::String (count) + (count == 1 ? " mixer" : " mixers");
    }
}

ConsoleUpdater::ConsoleUpdater (CommandLineOptions o, MixerLinkSettings s)
    : options (std::move (o)),
      settings (std::move (s)),
      file (systemtext::workingDirectory().getChildFile (options.file))
{
    settings.updateFile = file;
}

void ConsoleUpdater::say (const juce::String& line) const
{
    // With --json, standard output carries the result line alone.
    if (! options.quiet)
        console::write (textStream(), line + "\n");
}

void ConsoleUpdater::complain (const juce::String& line) const
{
    console::write (console::Stream::err, "qvr-update: " + line + "\n");
}

JsonLine ConsoleUpdater::fileFields() const
{
    const auto facts = console::lookAt (file);
    JsonLine json;
    json.addOrNull ("file", options.file.isEmpty() ? juce::String() : file.getFullPathName());
    facts.kind == console::PathFacts::regularFile ? json.add ("size", facts.size) : json.addNull ("size");
    return json;
}

juce::String ConsoleUpdater::chooseInterfaces()
{
    if (options.interfaces.isEmpty())
        return {};

    std::vector<Ipv4Interface> all;

    // A failed query is the link's to report, with its own code.
    if (settings.interfaces (all) != InterfaceQueryResult::ok)
        return {};

    for (auto& wanted : options.interfaces)
    {
        if (std::none_of (all.begin(), all.end(), [&] (auto& i) { return matches (i, wanted); }))
        {
            juce::StringArray known;

            for (auto& i : all)
                known.add ((i.name.empty() ? juce::String() : systemtext::fromBytes (i.name.c_str()) + " ") + dotted (i.address));

            return "no IPv4 interface is named or addressed \"" + wanted + "\"; there are: " + known.joinIntoString (", ");
        }
    }

    settings.interfaces = [source = settings.interfaces, wanted = options.interfaces] (std::vector<Ipv4Interface>& out)
    {
        const auto result = source (out);
        out.erase (std::remove_if (out.begin(), out.end(), [&] (auto& i)
                                   {
                                       return std::none_of (wanted.begin(), wanted.end(), [&] (auto& w) { return matches (i, w); });
                                   }),
                   out.end());
        return result;
    };

    return {};
}

int ConsoleUpdater::refuse (const juce::String& problem, const juce::String& hint)
{
    complain (problem);

    if (hint.isNotEmpty())
        console::write (console::Stream::err, hint + "\n");

    if (options.json)
        console::write (console::Stream::out,
                        JsonLine().addOrNull ("file", options.file.isEmpty() ? juce::String() : file.getFullPathName()).addNull ("size").addNull ("sha256").addNull ("mixer")
                            .add ("seconds", 0.0, 3).add ("outcome", "usage").add ("delivered", false)
                            .add ("message", problem).add ("exit", (int) exitstatus::usageError).toString() + "\n");

    return exitstatus::usageError;
}

int ConsoleUpdater::run (const std::atomic<bool>& interruptRequested)
{
    if (options.help)
    {
        console::write (console::Stream::out, CommandLineOptions::usage());
        return exitstatus::sent;
    }

    if (options.version)
    {
        console::write (console::Stream::out, "qvr-update " QVR_VERSION "\n");
        return exitstatus::sent;
    }

    if (options.error.isNotEmpty())
        return refuse (options.error, "Try 'qvr-update --help'.");

    if (const auto problem = chooseInterfaces(); problem.isNotEmpty())
        return refuse (problem, {});

    const auto status = options.check ? check (interruptRequested) : update (interruptRequested);
    TxtLoader::deleteInstance();
    return status;
}

int ConsoleUpdater::check (const std::atomic<bool>& interruptRequested)
{
    const bool withFile = options.file.isNotEmpty();
    const auto findings = NetworkCheck (settings, withFile, [&interruptRequested] { return interruptRequested.load(); }).run();
    const auto status = interruptRequested.load() ? (int) exitstatus::interrupted : checkreport::exitStatus (findings, withFile);

    // With --json, standard output carries the result line alone.
    if (! (options.json && options.quiet))
        console::write (textStream(), checkreport::toLines (findings, status, options.quiet));

    if (options.json)
        console::write (console::Stream::out, checkreport::toJson (findings, status) + "\n");

    return status;
}

int ConsoleUpdater::update (const std::atomic<bool>& interruptRequested)
{
    // Told from the worker, once the port listens and just before the first announcement.
    const MixerFleet* announcing = nullptr;
    const auto expected = juce::jmax (1, options.fleetSize());
    settings.onListening = [this, &announcing, expected] (const Listener& listener)
    {
        const auto& environment = *announcing->getEnvironment();

        for (int i = 0; i < environment.getNumAddresses(); ++i)
            say ("announcing on " + environment.getLocalAddress (i) + " to " + environment.getBroadcastAddress (i)
                 + ":" + juce::String (settings.announcePort));

        say ("waiting for " + (several() ? mixersText (expected) : juce::String ("the mixer"))
             + " on TCP port " + juce::String (listener.getPort()) + " (Ctrl-C cancels)");
        waitingSinceMs = nowMs();
    };

    MixerFleet fleet ({ settings, expected, options.mixerAddresses, options.timeoutSeconds });
    announcing = &fleet;
    StepRunner road ({ { initialiseStage, [&fleet] (juce::Thread& t) { return fleet.runInitialiseStep (t); } },
                       { connectStage, [&fleet] (juce::Thread& t) { return fleet.runConnectAndSendStep (t); } } });
    const auto started = nowMs();
    road.startThread();

    bool hinted = false;
    double lastProgress = 0;
    ProgressLine progressLine (*this);

    while (! road.done.wait (lookIntervalMs))
    {
        if (interruptRequested.load())
            road.stop();

        for (auto& e : fleet.takeEvents())
            tell (e, fleet);

        const auto now = nowMs();
        const auto mixers = fleet.getMixers();
        const auto waitingSince = waitingSinceMs.load();

        if (! hinted && mixers.empty() && waitingSince > 0.0 && now - waitingSince >= hintAfterMs)
        {
            hinted = true;
            say ("no mixer yet: is a firewall dropping TCP port 54000 or UDP port 56000, or is the mixer on another subnet?"
                 " Ctrl-C, then 'qvr-update --check' tells what stands in the way");
        }

        if (now - lastProgress >= progressIntervalMs)
        {
            lastProgress = now;
            showProgress (mixers, progressLine);
        }
    }

    for (auto& e : fleet.takeEvents())
        tell (e, fleet);

    if (const auto mixers = fleet.getMixers(); ! mixers.empty())
        progressLine.end (several() ? juce::String() : progressOf (mixers.front()).describe());

    return finish (road.getStage(), road.getResult(), fleet, (nowMs() - started) / 1000.0);
}

void ConsoleUpdater::tell (const MixerFleet::Event& e, const MixerFleet& fleet) const
{
    switch (e.kind)
    {
        case MixerFleet::Event::Kind::connected:
            say ("mixer " + e.address + " connected; sending " + file.getFileName()
                 + (several() ? juce::String() : " (" + juce::String (console::lookAt (file).size) + " bytes)"));
            break;

        case MixerFleet::Event::Kind::refused:
            say ("ignored a connection from " + e.address + ": not in --mixer");
            break;

        case MixerFleet::Event::Kind::surplus:
            say ("ignored a connection from " + e.address + ": "
                 + (several() ? "all " + mixersText (options.fleetSize()) + " are in" : juce::String ("a mixer is connected already")));
            break;

        case MixerFleet::Event::Kind::ended:
            if (several())
                for (auto& m : fleet.getMixers())
                    if (m.address == e.address && m.status != Update::sending)
                        say ("mixer " + m.address + ": " + mixerOutcome (m) + " after "
                             + SendProgress::formatBytes (m.taken) + " in " + juce::String (m.seconds, 1) + " s");
            break;
    }
}

void ConsoleUpdater::showProgress (const std::vector<MixerFleet::MixerState>& mixers, ProgressLine& line) const
{
    // One line for them all: how far the one furthest behind of those still sending has got.
    const MixerFleet::MixerState* slowest = nullptr;
    int sending = 0;

    for (auto& m : mixers)
    {
        if (m.status != Update::sending || m.total <= 0)
            continue;

        ++sending;

        // One that takes nothing is behind any that takes something.
        const auto stalled = progressOf (m).isStalled();

        if (slowest == nullptr || (stalled && ! progressOf (*slowest).isStalled())
            || (stalled == progressOf (*slowest).isStalled() && m.taken * slowest->total < slowest->taken * m.total))
            slowest = &m;
    }

    if (slowest == nullptr)
        return;

    const auto progress = progressOf (*slowest);

    if (several())
        line.show (progress, mixersText (sending) + "  " + amountAndTime (*slowest)
                                 + (progress.isStalled() ? juce::String() : "  slowest " + slowest->address));
    else
        line.show (progress, amountAndTime (*slowest) + (progress.isStalled() ? juce::String() : "  " + rate (progress)));
}

ConsoleUpdater::Outcome ConsoleUpdater::outcomeOf (int stage, int result, const MixerFleet& fleet) const
{
    const auto mixers = fleet.getMixers();
    const auto expected = juce::jmax (1, options.fleetSize());
    const auto connected = (int) mixers.size();
    const auto took = (int) std::count_if (mixers.begin(), mixers.end(), tookTheFile);
    const auto failed = std::find_if (mixers.begin(), mixers.end(), [] (auto& m) { return m.status > 0; });

    // A stop, the file or the network first; then the mixers: a failed transfer
    // weighs more than a mixer that never came. A stop once a mixer was
    // being served is a cancel of the sending.
    if (result == -1)
        return { exitstatus::interrupted, "interrupted", outcomes::messageFor (connected > 0 ? (int) sendStage : stage, -1) };

    if (result != 0)
        return { stage == initialiseStage ? exitstatus::checksFailed : exitstatus::connectFailed,
                 juce::String (stage == initialiseStage ? "I" : "C") + juce::String (result), outcomes::messageFor (stage, result) };

    const auto howMany = juce::String (took) + " of " + juce::String (expected) + " mixers took the whole file"
                       + (failed != mixers.end() ? "; " + outcomes::messageFor (sendStage, failed->status) : juce::String());

    if (failed != mixers.end())
        return { exitstatus::sendFailed, several() ? juce::String ("failed") : "S" + juce::String (failed->status),
                 several() ? howMany : outcomes::messageFor (sendStage, failed->status) };

    if (connected < expected && fleet.hasTimedOut())
        return { exitstatus::noMixerInTime, "timeout", several() ? howMany : outcomes::messageFor (connectStage, -1) };

    if (connected < expected)
        return { exitstatus::connectFailed, "C" + juce::String (fleet.getListeningFailure()), howMany };

    return { exitstatus::sent, "sent", outcomes::messageFor (sendStage, 0) };
}

int ConsoleUpdater::finish (int stage, int result, const MixerFleet& fleet, double seconds)
{
    const auto outcome = outcomeOf (stage, result, fleet);
    const auto mixers = fleet.getMixers();
    const auto expected = juce::jmax (1, options.fleetSize());

    if (stage == initialiseStage && result == UpdateEnvironment::updateFileInvalid)
        complain (file.getFullPathName() + " " + NetworkCheck::describeFileProblem (file, UpdateEnvironment::readFile (file)));

    if (outcome.word == "timeout")
        complain ((several() ? juce::String ((int) mixers.size()) + " of " + juce::String (expected) + " mixers connected"
                             : juce::String ("no mixer connected"))
                  + " within " + juce::String (options.timeoutSeconds) + " s");

    if (several())
        for (auto& m : mixers)
            say (m.address + "  " + SendProgress::formatBytes (m.taken) + " of " + SendProgress::formatBytes (m.total)
                 + "  " + juce::String (m.seconds, 1) + " s  " + mixerOutcome (m)
                 + (m.status > 0 ? "  " + outcomes::messageFor (sendStage, m.status) : juce::String()));

    console::write (textStream(), outcome.message + "\n");

    if (! options.json)
        return outcome.status;

    // The hash is of what went out, as it went out: nothing sent, no hash.
    auto json = fileFields();

    if (several())
    {
        std::vector<JsonLine> each;
        juce::String sha256;

        for (auto& m : mixers)
        {
            each.push_back (JsonLine().add ("address", m.address).add ("bytes", m.taken).add ("seconds", m.seconds, 3)
                                .add ("outcome", mixerOutcome (m)).add ("delivered", m.delivered).addOrNull ("sha256", m.sha256)
                                .addOrNull ("message", m.status > 0 ? outcomes::messageFor (sendStage, m.status) : juce::String()));
            sha256 = sha256.isEmpty() && tookTheFile (m) ? m.sha256 : sha256;
        }

        json.addOrNull ("sha256", sha256).add ("mixers", each).add ("expected", expected)
            .add ("connected", (int) mixers.size()).add ("delivered", (int) std::count_if (mixers.begin(), mixers.end(), tookTheFile));
    }
    else
    {
        const auto* mixer = mixers.empty() ? nullptr : &mixers.front();
        json.addOrNull ("sha256", mixer != nullptr ? mixer->sha256 : juce::String())
            .addOrNull ("mixer", mixer != nullptr ? mixer->address : juce::String());
    }

    json.add ("seconds", seconds, 3).add ("outcome", outcome.word);

    if (! several())
        json.add ("delivered", ! mixers.empty() && mixers.front().delivered);

    console::write (console::Stream::out, json.add ("message", outcome.message).add ("exit", outcome.status).toString() + "\n");
    return outcome.status;
}

ConsoleUpdater::ProgressLine::ProgressLine (const ConsoleUpdater& o)
    : owner (o), terminal (console::isTerminal (o.textStream()))
{
}

void ConsoleUpdater::ProgressLine::show (const SendProgress& progress, const juce::String& line)
{
    if (owner.options.quiet || progress.total <= 0)
        return;

    // Padded to the longest so far, so no fragment of a longer one stays on screen.
    width = juce::jmax (width, line.length());

    if (terminal)
        console::write (owner.textStream(), "\r" + line.paddedRight (' ', width));
    else if (const int tenth = (int) (progress.fraction() * 10.0); tenth != lastTenth)
    {
        lastTenth = tenth;
        owner.say (line);
    }
}

void ConsoleUpdater::ProgressLine::end (const juce::String& line)
{
    if (owner.options.quiet)
        return;

    const auto stream = owner.textStream();

    // Nothing to end with: a terminal's line is cleared, a log has its lines.
    if (line.isEmpty())
    {
        if (terminal && width > 0)
            console::write (stream, "\r" + juce::String().paddedRight (' ', width) + "\r");

        return;
    }

    if (terminal)
        console::write (stream, "\r" + line.paddedRight (' ', width) + "\n");
    else if (lastTenth < 10)
        owner.say (line);
}

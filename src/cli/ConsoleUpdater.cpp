#include "cli/ConsoleUpdater.h"

#include <algorithm>
#include <cstring>

#include "app/PhaseScreen.h"
#include "cli/FleetUpdater.h"
#include "cli/JsonLine.h"
#include "cli/NetworkCheck.h"
#include "cli/StepRunner.h"
#include "platform/Console.h"
#include "platform/RegularFileReader.h"
#include "platform/SystemText.h"
#include "resources/TxtLoader.h"

namespace
{
    juce::String dotted (std::uint32_t a)
    {
        return juce::String (a >> 24) + "." + juce::String ((a >> 16) & 0xff) + "." + juce::String ((a >> 8) & 0xff) + "." + juce::String (a & 0xff);
    }

    bool matches (const Ipv4Interface& i, const juce::String& wanted)
    {
        return systemText::fromBytes (i.name.c_str()) == wanted || dotted (i.address) == wanted;
    }
}

ConsoleUpdater::ConsoleUpdater (CommandLineOptions o, MixerLink::Settings s)
    : options (std::move (o)),
      settings (std::move (s)),
      file (systemText::workingDirectory().getChildFile (options.file))
{
    settings.updateFile = file;
}

juce::String ConsoleUpdater::describeFileProblem (const juce::File& file)
{
    // Only a stat and the reader touch FILE: opening a FIFO with JUCE's
    // streams waits for a writer, for good.
    switch (console::lookAt (file).kind)
    {
        case console::PathFacts::folder:  return "is a folder";
        case console::PathFacts::missing: return "does not exist";
        case console::PathFacts::special: return "is not a regular file (a FIFO, a device or a socket)";
        case console::PathFacts::unknown:
        case console::PathFacts::regularFile: break;
    }

    RegularFileReader reader (file);
    char head[7] = {};

    if (! reader.isOpen())
        return "cannot be read";

    if (reader.getSize() > UpdateEnvironment::maxUpdateFileSize)
        return "is 4 GiB or larger";

    if (reader.read (head, sizeof (head)) != (int) sizeof (head) || ! UpdateEnvironment::beginsWithModelPrefix (head, sizeof (head)))
        return "does not begin with \"QVR-700\": not an update file for this mixer";

    return "cannot be read to its end";
}

juce::String ConsoleUpdater::outcomeMessage (int stage, int result)
{
    // The window's own words for the outcome, in the language it would choose.
    auto* txt = TxtLoader::getInstance();
    return result == 0 ? txt->getString (10).trim() : txt->getString (getMessageIdForResult (stage, result));
}

juce::String ConsoleUpdater::noMixerHint()
{
    return "no mixer yet: is a firewall dropping TCP port 54000 or UDP port 56000, or is the mixer on another subnet?"
           " Ctrl-C, then 'qvr-update --check' tells what stands in the way";
}

void ConsoleUpdater::say (const juce::String& line) const
{
    // With --json, standard output carries the result line alone.
    if (! options.quiet)
        console::write (line + "\n", options.json);
}

void ConsoleUpdater::complain (const juce::String& line) const
{
    console::write ("qvr-update: " + line + "\n", true);
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
                known.add ((i.name.empty() ? juce::String() : systemText::fromBytes (i.name.c_str()) + " ") + dotted (i.address));

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
        console::write (hint + "\n", true);

    if (options.json)
        console::write (JsonLine().addOrNull ("file", options.file.isEmpty() ? juce::String() : file.getFullPathName()).addNull ("size").addNull ("sha256").addNull ("mixer")
                           .add ("seconds", 0.0, 3).add ("outcome", "usage").add ("delivered", false)
                           .add ("message", problem).add ("exit", (int) usageError).toString() + "\n", false);

    return usageError;
}

int ConsoleUpdater::run (const std::atomic<bool>& interruptRequested)
{
    if (options.help)
    {
        console::write (CommandLineOptions::usage(), false);
        return sent;
    }

    if (options.version)
    {
        console::write ("qvr-update " QVR_VERSION "\n", false);
        return sent;
    }

    if (options.error.isNotEmpty())
        return refuse (options.error, "Try 'qvr-update --help'.");

    if (const auto problem = chooseInterfaces(); problem.isNotEmpty())
        return refuse (problem, {});

    if (options.check)
        return NetworkCheck (options, settings).run();

    if (options.fleetSize() > 0)
        return FleetUpdater (*this).run (interruptRequested);

    // Told from the worker, once the port listens and just before the first announcement.
    const MixerLink* announcing = nullptr;
    settings.onListening = [this, &announcing] (const Listener& listener)
    {
        sayAnnouncing (*announcing->getEnvironment());
        say ("waiting for the mixer on TCP port " + juce::String (listener.getPort()) + " (Ctrl-C cancels)");
    };

    MixerLink link (settings);
    announcing = &link;
    StepRunner road ({ { StepRunner::initialising, [&link] (juce::Thread& t) { return link.runInitialiseStep (t); } },
                       { StepRunner::connecting, [&link] (juce::Thread& t) { return link.runConnectStep (t); } },
                       { StepRunner::sending, [&link] (juce::Thread& t) { return link.runSendStep (t); } } });
    const auto started = juce::Time::getMillisecondCounterHiRes();
    road.startThread();

    int shownStage = StepRunner::notStarted;
    bool timedOut = false, hinted = false;
    double waitingSince = 0, lastProgress = 0;
    ProgressLine progressLine (*this);

    while (! road.done.wait (lookIntervalMs))
    {
        const auto now = juce::Time::getMillisecondCounterHiRes();

        if (interruptRequested.load())
            road.stop();

        const int stage = road.getStage();

        // A mixer may connect within one look: each stage is told, in order.
        if (stage >= StepRunner::connecting && shownStage < StepRunner::connecting)
        {
            shownStage = StepRunner::connecting;
            waitingSince = now;
        }

        if (stage >= StepRunner::sending && shownStage < StepRunner::sending)
        {
            shownStage = StepRunner::sending;
            say ("mixer " + link.getMixerAddress() + " connected; sending " + file.getFileName()
                 + " (" + juce::String (console::lookAt (file).size) + " bytes)");
        }

        if (stage == StepRunner::connecting)
        {
            const auto waited = (now - waitingSince) / 1000.0;

            if (! hinted && waited >= hintAfterSeconds)
            {
                hinted = true;
                say (noMixerHint());
            }

            if (options.timeoutSeconds > 0.0 && waited >= options.timeoutSeconds && ! timedOut)
            {
                timedOut = true;
                road.stop();
            }
        }

        if (stage == StepRunner::sending && now - lastProgress >= progressIntervalMs)
        {
            lastProgress = now;
            const auto progress = link.getSendProgress();
            progressLine.show (progress, progress.describe() + "  " + rate (progress));
        }
    }

    if (shownStage == StepRunner::sending)
        progressLine.end (link.getSendProgress().describe());

    return finish (road.getStage(), road.getResult(), timedOut, link,
                   (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0);
}

void ConsoleUpdater::sayAnnouncing (const UpdateEnvironment& environment) const
{
    for (int i = 0; i < environment.getNumAddresses(); ++i)
        say ("announcing on " + environment.getLocalAddress (i) + " to " + environment.getBroadcastAddress (i)
             + ":" + juce::String (settings.announcePort));
}

juce::String ConsoleUpdater::rate (const SendProgress& progress)
{
    return progress.seconds > 0.5 ? SendProgress::formatBytes ((juce::int64) ((double) progress.sent / progress.seconds)) + "/s"
                                   : juce::String ("--");
}

ConsoleUpdater::ProgressLine::ProgressLine (const ConsoleUpdater& o)
    : owner (o), terminal (console::isTerminal (o.options.json))
{
}

void ConsoleUpdater::ProgressLine::show (const SendProgress& progress, const juce::String& line)
{
    if (owner.options.quiet || progress.total <= 0)
        return;

    // Padded to the longest so far, so no fragment of a longer one stays on screen.
    width = juce::jmax (width, line.length());

    if (terminal)
        console::write ("\r" + line.paddedRight (' ', width), owner.options.json);
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

    // Nothing to end with: a terminal's line is cleared, a log has its lines.
    if (line.isEmpty())
    {
        if (terminal && width > 0)
            console::write ("\r" + juce::String().paddedRight (' ', width) + "\r", owner.options.json);

        return;
    }

    if (terminal)
        console::write ("\r" + line.paddedRight (' ', width) + "\n", owner.options.json);
    else if (lastTenth < 10)
        owner.say (line);
}

int ConsoleUpdater::finish (int stage, int result, bool timedOut, const MixerLink& link, double seconds)
{
    const char letter = stage == StepRunner::initialising ? 'I' : stage == StepRunner::connecting ? 'C' : 'S';
    juce::String outcome;
    int status = sent;

    if (result == 0)
    {
        outcome = "sent";
    }
    else if (result == -1)
    {
        outcome = timedOut ? "timeout" : "interrupted";
        status = timedOut ? noMixerInTime : interrupted;
    }
    else
    {
        outcome = juce::String::charToString (letter) + juce::String (result);
        status = stage == StepRunner::initialising ? checksFailed : stage == StepRunner::connecting ? connectFailed : sendFailed;
    }

    if (stage == StepRunner::initialising && result == UpdateEnvironment::updateFileInvalid)
        complain (file.getFullPathName() + " " + describeFileProblem (file));

    if (timedOut)
        complain ("no mixer connected within " + juce::String (options.timeoutSeconds) + " s");

    const auto message = outcomeMessage (stage, result);
    console::write (message + "\n", options.json);

    // The hash is of what went out, as it went out: nothing sent, no hash.
    if (options.json)
        console::write (fileFields().addOrNull ("sha256", link.getSentSha256()).addOrNull ("mixer", link.getMixerAddress())
                            .add ("seconds", seconds, 3).add ("outcome", outcome).add ("delivered", link.wasDelivered())
                            .add ("message", message).add ("exit", status).toString() + "\n",
                        false);

    TxtLoader::deleteInstance();
    return status;
}

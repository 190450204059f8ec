#include "cli/ConsoleUpdater.h"

#include <algorithm>
#include <cstring>

#include <juce_cryptography/juce_cryptography.h>

#include "cli/JsonLine.h"
#include "cli/NetworkCheck.h"
#include "platform/Console.h"
#include "platform/RegularFileReader.h"
#include "platform/SystemText.h"
#include "resources/TxtLoader.h"

namespace
{
    enum Stage
    {
        initialising = 1,
        connecting = 3,
        sending = 4
    };

    // Where nothing connects within this long, the cause is nearly always a
    // firewall or a mixer on another subnet: say so once.
    constexpr double hintAfterSeconds = 20.0;
    constexpr int lookIntervalMs = 50;
    constexpr int progressIntervalMs = 250;

    // The steps in a row on a thread of their own, like the window's worker.
    class Road final : public juce::Thread
    {
    public:
        explicit Road (MixerLink& l) : juce::Thread ("QVR7000_UPDATE"), link (l) {}
        ~Road() override { stopThread (-1); }

        void run() override
        {
            stage = initialising;
            int outcome = link.runInitialiseStep (*this);

            if (outcome == 0 && ! threadShouldExit())
            {
                stage = connecting;
                outcome = link.runConnectStep (*this);
            }

            if (outcome == 0 && ! threadShouldExit())
            {
                stage = sending;
                outcome = link.runSendStep (*this);
            }

            // As in the window, a stop request wins over whatever the step found.
            result = threadShouldExit() ? -1 : outcome;
            done.signal();
        }

        std::atomic<int> stage { 0 }, result { 0 };
        juce::WaitableEvent done { true };

    private:
        MixerLink& link;
    };

    juce::String dotted (std::uint32_t a)
    {
        return juce::String (a >> 24) + "." + juce::String ((a >> 16) & 0xff) + "." + juce::String ((a >> 8) & 0xff) + "." + juce::String (a & 0xff);
    }

    bool matches (const Ipv4Interface& i, const juce::String& wanted)
    {
        return systemText::fromBytes (i.name.c_str()) == wanted || dotted (i.address) == wanted;
    }

    // Why the file failed the check, in words; the I4 line follows it. Only a
    // stat and the reader touch FILE: opening a FIFO with JUCE's streams waits
    // for a writer, for good.
    juce::String fileProblem (const juce::File& file)
    {
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

        if (reader.read (head, sizeof (head)) != (int) sizeof (head) || std::memcmp (head, "QVR-700", 7) != 0)
            return "does not begin with \"QVR-700\": not an update file for this mixer";

        return "cannot be read";
    }

    // JUCE's hashing reads an InputStream; the reader is what may open FILE.
    class ReaderStream final : public juce::InputStream
    {
    public:
        explicit ReaderStream (const juce::File& file) : reader (file) {}

        juce::int64 getTotalLength() override { return reader.getSize(); }
        bool isExhausted() override { return ended; }
        juce::int64 getPosition() override { return position; }
        bool setPosition (juce::int64 wanted) override { return wanted == position; } // forward only

        int read (void* destination, int numBytes) override
        {
            const auto n = reader.read (destination, numBytes);
            failed = failed || n < 0;
            ended = n < numBytes;
            position += juce::jmax (0, n);
            return juce::jmax (0, n);
        }

        RegularFileReader reader;
        bool ended = false, failed = false;
        juce::int64 position = 0;
    };

    // Empty when the file cannot be read whole.
    juce::String sha256Of (const juce::File& file)
    {
        ReaderStream stream (file);

        if (! stream.reader.isOpen() || stream.reader.getSize() > UpdateEnvironment::maxUpdateFileSize)
            return {};

        juce::BufferedInputStream buffered (stream, 64 * 1024);
        const auto hash = juce::SHA256 (buffered).toHexString();
        return stream.failed || stream.position != stream.reader.getSize() ? juce::String() : hash;
    }

    int messageIdFor (int stage, int result)
    {
        const int cancelId = stage == initialising ? 11 : stage == connecting ? 12 : 13;
        const int failureBase = stage == initialising ? 13 : stage == connecting ? 22 : 31;

        if (result == -1)
            return cancelId;

        return result >= 1 && result <= 9 ? failureBase + result : 0;
    }
}

ConsoleUpdater::ConsoleUpdater (CommandLineOptions o, MixerLink::Settings s)
    : options (std::move (o)),
      settings (std::move (s)),
      file (systemText::workingDirectory().getChildFile (options.file))
{
    settings.updateFile = file;
}

void ConsoleUpdater::say (const juce::String& line)
{
    // With --json, standard output carries the result line alone.
    if (! options.quiet)
        console::write (line + "\n", options.json);
}

void ConsoleUpdater::complain (const juce::String& line)
{
    console::write ("qvr-update: " + line + "\n", true);
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
        console::write (resultLine ("usage", problem, usageError, {}, 0.0, false) + "\n", false);

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

    // Told from the worker, once the port listens and just before the first announcement.
    const MixerLink* announcing = nullptr;
    settings.onListening = [this, &announcing] (const Listener& listener)
    {
        const auto* environment = announcing->getEnvironment();

        for (int i = 0; i < environment->getNumAddresses(); ++i)
            say ("announcing on " + environment->getLocalAddress (i) + " to " + environment->getBroadcastAddress (i)
                 + ":" + juce::String (settings.announcePort));

        say ("waiting for the mixer on TCP port " + juce::String (listener.getPort()) + " (Ctrl-C cancels)");
    };

    MixerLink link (settings);
    announcing = &link;
    Road road (link);
    const auto started = juce::Time::getMillisecondCounterHiRes();
    road.startThread();

    int shownStage = 0;
    bool timedOut = false, hinted = false;
    double waitingSince = 0, sendingSince = 0, lastProgress = 0;
    int lastTenth = -1, progressWidth = 0;
    const bool terminal = console::isTerminal (options.json);

    while (! road.done.wait (lookIntervalMs))
    {
        const auto now = juce::Time::getMillisecondCounterHiRes();

        if (interruptRequested.load())
        {
            road.signalThreadShouldExit();
            road.notify();
        }

        const int stage = road.stage.load();

        // A mixer may connect within one look: each stage is told, in order.
        if (stage >= connecting && shownStage < connecting)
        {
            shownStage = connecting;
            waitingSince = now;
        }

        if (stage >= sending && shownStage < sending)
        {
            shownStage = sending;
            sendingSince = now;
            say ("mixer " + link.getMixerAddress() + " connected; sending " + file.getFileName()
                 + " (" + juce::String (console::lookAt (file).size) + " bytes)");
        }

        if (stage == connecting)
        {
            const auto waited = (now - waitingSince) / 1000.0;

            if (! hinted && waited >= hintAfterSeconds)
            {
                hinted = true;
                say ("no mixer yet: is a firewall dropping TCP port 54000 or UDP port 56000, or is the mixer on another subnet?"
                     " Ctrl-C, then 'qvr-update --check' tells what stands in the way");
            }

            if (options.timeoutSeconds > 0.0 && waited >= options.timeoutSeconds && ! timedOut)
            {
                timedOut = true;
                road.signalThreadShouldExit();
                road.notify();
            }
        }

        const auto progress = link.getSendProgress();

        if (stage == sending && progress.total > 0 && ! options.quiet && now - lastProgress >= progressIntervalMs)
        {
            lastProgress = now;
            const auto seconds = (now - sendingSince) / 1000.0;
            const auto rate = seconds > 0.5 ? SendProgress::formatBytes ((juce::int64) ((double) progress.sent / seconds)) + "/s" : juce::String ("--");
            const auto line = progress.describe() + "  " + rate;

            // Padded to the longest so far, so no fragment of a longer one stays on screen.
            progressWidth = juce::jmax (progressWidth, line.length());

            if (terminal)
                console::write ("\r" + line.paddedRight (' ', progressWidth), options.json);
            else if (const int tenth = (int) (progress.fraction() * 10.0); tenth != lastTenth)
            {
                lastTenth = tenth;
                say (line);
            }
        }
    }

    if (const auto progress = link.getSendProgress(); shownStage == sending && progress.total > 0 && ! options.quiet)
    {
        if (terminal)
            console::write ("\r" + progress.describe().paddedRight (' ', progressWidth) + "\n", options.json);
        else if (lastTenth < 10)
            say (progress.describe());
    }

    return finish (road.stage.load(), road.result.load(), timedOut, link.getMixerAddress(),
                   (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0);
}

int ConsoleUpdater::finish (int stage, int result, bool timedOut, const juce::String& mixer, double seconds)
{
    auto* txt = TxtLoader::getInstance();
    const char letter = stage == initialising ? 'I' : stage == connecting ? 'C' : 'S';
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
        status = stage == initialising ? checksFailed : stage == connecting ? connectFailed : sendFailed;
    }

    if (stage == initialising && result == UpdateEnvironment::updateFileInvalid)
        complain (file.getFullPathName() + " " + fileProblem (file));

    if (timedOut)
        complain ("no mixer connected within " + juce::String (options.timeoutSeconds) + " s");

    // The window's own words for the outcome, in the language it would choose.
    const auto message = result == 0 ? txt->getString (10).trim() : txt->getString (messageIdFor (stage, result));

    console::write (message + "\n", options.json);

    if (options.json)
        console::write (resultLine (outcome, message, status, mixer, seconds, true) + "\n", false);

    TxtLoader::deleteInstance();
    return status;
}

juce::String ConsoleUpdater::resultLine (const juce::String& outcome, const juce::String& message, int status,
                                         const juce::String& mixer, double seconds, bool lookAtFile) const
{
    const auto facts = lookAtFile ? console::lookAt (file) : console::PathFacts {};
    const auto sha256 = facts.kind == console::PathFacts::regularFile ? sha256Of (file) : juce::String();
    JsonLine json;

    options.file.isEmpty() ? json.addNull ("file") : json.add ("file", file.getFullPathName());
    facts.kind == console::PathFacts::regularFile ? json.add ("size", facts.size) : json.addNull ("size");
    sha256.isEmpty() ? json.addNull ("sha256") : json.add ("sha256", sha256);
    mixer.isEmpty() ? json.addNull ("mixer") : json.add ("mixer", mixer);
    json.add ("seconds", seconds, 3);
    json.add ("outcome", outcome);
    json.add ("message", message);
    json.add ("exit", status);
    return json.toString();
}

// Reliability over many transfers in one process: each line read from standard
// input is one round against the mixer simulator, which the driver has started
// for it (scripts/bench.sh --only soak):
//
//     delivered   the window's three steps; the mixer takes the whole file
//     reset       the same; the mixer resets near the end: S3, never delivered
//     stall       the same; the mixer stops reading, and Cancel must end the step at once
//     stranger    the fleet; a peer not on the allow-list is closed before a byte goes out
//
// After each round, once every object of it is gone, one JSON line: the outcome
// and what the process holds (open descriptors, resident memory, threads, heap
// bytes in use), so that a leak shows as growth from round to round. At the end
// of the input, a summary line; the exit status is 1 when any round ended
// otherwise than expected.
//
// It announces on every interface the system lists, so, like qvr_send, it
// refuses to run unless all of them lie in 192.0.2.0/24 or are loopback.

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <iostream>
#include <malloc.h>
#include <map>
#include <string>

#include "net/MixerFleet.h"
#include "net/MixerLink.h"

namespace
{
    // Far above a round's own few seconds: only a hang reaches it.
    constexpr int roundLimitMs = 20000;

    // The progress stood still this long: the mixer has stopped reading.
    constexpr double stallMs = 300.0;

    // "At once" for a Cancel: the transfer's own waits look at the stop every 50 ms.
    constexpr double cancelLimitMs = 100.0;

    // The simulator's own address, the one mixer the fleet lets in.
    const juce::String allowedMixer ("192.0.2.2");

    double nowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    bool onlyTestNetworks()
    {
        std::vector<Ipv4Interface> interfaces;
        if (querySystemInterfaces (interfaces) != InterfaceQueryResult::ok)
            return false;

        return std::all_of (interfaces.begin(), interfaces.end(), [] (const Ipv4Interface& i)
                            { return (i.address >> 24) == 127 || (i.address & 0xffffff00u) == 0xc0000200u; });
    }

    struct Usage
    {
        int descriptors = 0;
        juce::int64 residentKb = 0, threads = 0, heapBytes = 0;
    };

    juce::int64 statusField (const juce::String& name)
    {
        for (auto& line : juce::StringArray::fromLines (juce::File ("/proc/self/status").loadFileAsString()))
            if (line.startsWith (name + ":"))
                return line.fromFirstOccurrenceOf (":", false, false).trim().getLargeIntValue();

        return -1;
    }

    /** What the process holds once the round's threads are gone: JUCE says a
        thread has stopped just before the system's thread ends, which would
        otherwise show as a thread and its last memory now and then.
    */
    Usage usageNow (juce::int64 threadsBetweenRounds = 1)
    {
        for (int i = 0; i < 100 && statusField ("Threads") > threadsBetweenRounds; ++i)
            juce::Thread::sleep (1);

        Usage u;

        if (auto* dir = ::opendir ("/proc/self/fd"))
        {
            while (auto* entry = ::readdir (dir))
                if (entry->d_name[0] != '.')
                    ++u.descriptors;

            ::closedir (dir);
            --u.descriptors;   // the listing's own
        }

        u.residentKb = statusField ("VmRSS");
        u.threads = statusField ("Threads");
        // Resident memory hides a small leak in heap pages that earlier rounds
        // touched and freed; the allocator's own count does not.
        u.heapBytes = (juce::int64) ::mallinfo2().uordblks;
        return u;
    }

    /** The worker of one round, as the window's and qvr-update's: the steps
        sleep on this thread's event, so a Cancel must wake it as well as flag it.
    */
    class StepThread final : public juce::Thread
    {
    public:
        explicit StepThread (std::function<int (juce::Thread&)> stepsToRun)
            : juce::Thread ("soak worker"), steps (std::move (stepsToRun)) {}

        ~StepThread() override { stopThread (-1); }

        void cancel()
        {
            signalThreadShouldExit();
            notify();
        }

        void run() override
        {
            result = steps (*this);
            endedMs = nowMs();
            ended.signal();
        }

        std::atomic<int> result { 0 };
        std::atomic<double> endedMs { 0.0 };
        juce::WaitableEvent ended { true };

    private:
        const std::function<int (juce::Thread&)> steps;
    };

    struct Outcome
    {
        juce::String text;
        double cancelMs = -1.0;
    };

    juce::String codeOf (int stage, int result)
    {
        if (result == -1)
            return "stopped";

        return (stage == initialiseStage ? "I" : stage == connectStage ? "C" : "S") + juce::String (result);
    }

    /** Waits for the end of the round's steps; a hang is cancelled and told as such. */
    bool endedInTime (StepThread& worker)
    {
        if (worker.ended.wait (roundLimitMs))
            return true;

        worker.cancel();
        worker.ended.wait (roundLimitMs);
        return false;
    }

    Outcome linkRound (const juce::String& kind, const juce::File& file, const juce::String& sha256)
    {
        MixerLink::Settings settings;
        settings.updateFile = file;
        MixerLink link (settings);
        std::atomic<int> stage { 0 };

        StepThread worker ([&link, &stage] (juce::Thread& t)
        {
            stage = initialiseStage;
            if (const auto code = link.runInitialiseStep (t); code != 0)
                return code;

            stage = connectStage;
            if (const auto code = link.runConnectStep (t); code != 0)
                return code;

            stage = sendStage;
            return link.runSendStep (t);
        });

        worker.startThread();
        Outcome outcome;

        if (kind == "stall")
        {
            // Cancelled only once the stall has really set in, not while the
            // first chunks are still on their way.
            juce::int64 lastTaken = -1;
            double stillSince = nowMs();

            for (const auto end = nowMs() + roundLimitMs; nowMs() < end && ! worker.ended.wait (10);)
            {
                const auto taken = link.getSendProgress().taken;

                if (stage != sendStage || taken != lastTaken || taken == 0)
                {
                    lastTaken = taken;
                    stillSince = nowMs();
                }
                else if (nowMs() - stillSince >= stallMs)
                {
                    const auto cancelled = nowMs();
                    worker.cancel();

                    if (worker.ended.wait (roundLimitMs))
                        outcome.cancelMs = worker.endedMs - cancelled;

                    break;
                }
            }
        }

        if (! endedInTime (worker))
            return { "no end within " + juce::String (roundLimitMs / 1000) + " s" };

        const int result = worker.result;

        if (result != 0)
            outcome.text = codeOf (stage, result);
        else if (! link.wasDelivered())
            outcome.text = "sent, not delivered";
        else
            outcome.text = link.getSentSha256() == sha256 ? "delivered" : "delivered, other bytes";

        return outcome;
    }

    juce::String describe (const MixerFleet::Event& e)
    {
        return juce::StringArray { "connected", "refused", "surplus", "ended" }[(int) e.kind] + " " + e.address;
    }

    Outcome strangerRound (const juce::File& file)
    {
        MixerFleet::Settings settings;
        settings.link.updateFile = file;
        settings.allowed = { allowedMixer };
        settings.connectTimeoutSeconds = roundLimitMs / 1000.0;
        MixerFleet fleet (settings);

        StepThread worker ([&fleet] (juce::Thread& t)
        {
            const auto code = fleet.runInitialiseStep (t);
            return code != 0 ? code : fleet.runConnectAndSendStep (t);
        });

        worker.startThread();
        juce::StringArray events;

        for (const auto end = nowMs() + roundLimitMs; events.isEmpty() && nowMs() < end && ! worker.ended.wait (10);)
            for (auto& e : fleet.takeEvents())
                events.add (describe (e));

        // The stranger is turned away; the fleet would wait on for its mixer.
        worker.cancel();

        if (! endedInTime (worker))
            return { "no end within " + juce::String (roundLimitMs / 1000) + " s" };

        for (auto& e : fleet.takeEvents())
            events.add (describe (e));

        const bool refused = events.size() == 1 && events[0].startsWith ("refused ") && ! events[0].endsWith (" " + allowedMixer);

        if (refused && fleet.getMixers().empty() && worker.result == -1)
            return { "refused" };

        return { events.isEmpty() ? codeOf (connectStage, worker.result) : events.joinIntoString (", ") };
    }

    struct Range
    {
        juce::int64 first = -1, last = -1, min = 0, max = 0;

        void add (juce::int64 v)
        {
            min = first < 0 ? v : std::min (min, v);
            max = first < 0 ? v : std::max (max, v);
            first = first < 0 ? v : first;
            last = v;
        }

        juce::String toJson() const
        {
            return "{\"first\": " + juce::String (first) + ", \"last\": " + juce::String (last)
                 + ", \"min\": " + juce::String (min) + ", \"max\": " + juce::String (max) + "}";
        }
    };
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: qvr_soak_bench FILE  (rounds on standard input: delivered, reset, stall, stranger)\n");
        return 2;
    }

    if (! onlyTestNetworks())
    {
        std::fprintf (stderr, "qvr_soak_bench: refusing to announce outside 192.0.2.0/24; run it inside the test namespaces\n");
        return 3;
    }

    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    const auto sha256 = UpdateEnvironment::readFile (file, {}, true).sha256;
    const std::map<juce::String, juce::String> expected { { "delivered", "delivered" }, { "reset", "S3" },
                                                          { "stall", "stopped" }, { "stranger", "refused" } };
    // A buffer of our own: the library's would be allocated by the first line
    // printed, after the first round's figures, and look like growth.
    static char outBuffer[4096];
    std::setvbuf (stdout, outBuffer, _IOLBF, sizeof (outBuffer));

    const auto before = usageNow();
    Range descriptors, resident, threads, heap;
    std::map<juce::String, std::pair<int, int>> asExpected;   // per kind: rounds as expected, rounds
    double slowestCancelMs = 0.0;
    int round = 0;

    for (std::string line; std::getline (std::cin, line);)
    {
        const auto kind = juce::String (line).trim();
        const auto wanted = expected.find (kind);
        Outcome outcome { "unknown round" };

        if (wanted != expected.end())
            outcome = kind == "stranger" ? strangerRound (file) : linkRound (kind, file, sha256);

        const auto usage = usageNow (before.threads);
        const bool cancelledAtOnce = kind != "stall" || (outcome.cancelMs >= 0.0 && outcome.cancelMs <= cancelLimitMs);
        const bool ok = wanted != expected.end() && outcome.text == wanted->second && cancelledAtOnce;

        descriptors.add (usage.descriptors);
        resident.add (usage.residentKb);
        threads.add (usage.threads);
        heap.add (usage.heapBytes);
        auto& count = asExpected[kind];
        count.first += ok ? 1 : 0;
        ++count.second;
        slowestCancelMs = std::max (slowestCancelMs, outcome.cancelMs);

        std::printf ("{\"round\": %d, \"kind\": \"%s\", \"outcome\": \"%s\", \"as_expected\": %s, \"cancel_ms\": %.3f, "
                     "\"fds\": %d, \"rss_kb\": %lld, \"threads\": %lld, \"heap_bytes\": %lld}\n",
                     ++round, kind.toRawUTF8(), outcome.text.toRawUTF8(), ok ? "true" : "false", outcome.cancelMs,
                     usage.descriptors, (long long) usage.residentKb, (long long) usage.threads, (long long) usage.heapBytes);
    }

    juce::StringArray kinds;
    bool allAsExpected = round > 0;

    for (auto& [kind, count] : asExpected)
    {
        kinds.add ("\"" + kind + "\": [" + juce::String (count.first) + ", " + juce::String (count.second) + "]");
        allAsExpected = allAsExpected && count.first == count.second;
    }

    std::printf ("{\"summary\": true, \"rounds\": %d, \"as_expected\": {%s}, \"slowest_cancel_ms\": %.3f, "
                 "\"before\": {\"fds\": %d, \"rss_kb\": %lld, \"threads\": %lld, \"heap_bytes\": %lld}, "
                 "\"fds\": %s, \"rss_kb\": %s, \"threads\": %s, \"heap_bytes\": %s}\n",
                 round, kinds.joinIntoString (", ").toRawUTF8(), slowestCancelMs, before.descriptors,
                 (long long) before.residentKb, (long long) before.threads, (long long) before.heapBytes,
                 descriptors.toJson().toRawUTF8(), resident.toJson().toRawUTF8(), threads.toJson().toRawUTF8(),
                 heap.toJson().toRawUTF8());
    return allAsExpected ? 0 : 1;
}

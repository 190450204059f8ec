// A headless sender for measurements: the connect and send phases of the tool
// (announce, listen, transfer) without the window, timed from inside. Prints one
// JSON line; the time stamps are CLOCK_MONOTONIC seconds, which every network
// namespace of the machine shares, so a peer's stamps compare with ours.
//
// It announces on every interface the system lists, so it refuses to run unless
// all of them lie in 192.0.2.0/24 (the private test namespaces) or are loopback.

#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>

#include "net/Broadcast.h"
#include "net/Listener.h"
#include "net/Update.h"
#include "net/UpdateEnvironment.h"

namespace
{
    double monotonic()
    {
        timespec t;
        clock_gettime (CLOCK_MONOTONIC, &t);
        return (double) t.tv_sec + (double) t.tv_nsec * 1e-9;
    }

    bool onlyTestNetworks()
    {
        std::vector<Ipv4Interface> interfaces;
        if (querySystemInterfaces (interfaces) != InterfaceQueryResult::ok)
            return false;

        for (auto& i : interfaces)
            if ((i.address >> 24) != 127 && (i.address & 0xffffff00u) != 0xc0000200u)
                return false;

        return true;
    }

    double cpuSeconds()
    {
        rusage u {};
        getrusage (RUSAGE_SELF, &u);
        return (double) u.ru_utime.tv_sec + (double) u.ru_utime.tv_usec * 1e-6
             + (double) u.ru_stime.tv_sec + (double) u.ru_stime.tv_usec * 1e-6;
    }

    // The peak of this program's own memory. getrusage's ru_maxrss would also count
    // the parent's memory at the fork before the exec that started us.
    juce::int64 peakResidentKb()
    {
        for (auto& line : juce::StringArray::fromLines (juce::File ("/proc/self/status").loadFileAsString()))
            if (line.startsWith ("VmHWM:"))
                return line.fromFirstOccurrenceOf (":", false, false).trim().getLargeIntValue();

        return -1;
    }

    juce::String usage()
    {
        return "\"cpu_seconds\": " + juce::String (cpuSeconds(), 4) + ", \"max_rss_kb\": " + juce::String (peakResidentKb());
    }

    void report (const juce::String& fields)
    {
        std::printf ("{%s, %s}\n", fields.toRawUTF8(), usage().toRawUTF8());
        std::fflush (stdout);
    }
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: qvr_send FILE [--wait-only SECONDS] [--cancel-after-ms MS] [--timeout SECONDS]\n");
        return 2;
    }

    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]);
    double waitOnly = 0, timeout = 600, cancelAfterMs = 0;

    for (int i = 2; i + 1 < argc; i += 2)
    {
        const juce::String option (argv[i]), value (argv[i + 1]);
        if (option == "--wait-only")
            waitOnly = value.getDoubleValue();
        else if (option == "--cancel-after-ms")
            cancelAfterMs = value.getDoubleValue();
        else if (option == "--timeout")
            timeout = value.getDoubleValue();
    }

    if (! onlyTestNetworks())
    {
        std::fprintf (stderr, "qvr_send: refusing to announce outside 192.0.2.0/24; run it inside the test namespaces\n");
        return 3;
    }

    const auto checkStart = monotonic();
    UpdateEnvironment environment (file, querySystemInterfaces);
    const auto checkSeconds = monotonic() - checkStart;

    if (environment.getStatus() != 0)
    {
        report ("\"result\": \"initialise\", \"code\": " + juce::String (environment.getStatus()));
        return 1;
    }

    const auto connectStart = monotonic();
    const auto connectCpu = cpuSeconds();
    auto broadcast = std::make_unique<Broadcast> (environment, Listener::defaultPort);
    auto listener = std::make_unique<Listener>();
    juce::WaitableEvent listenerEnded, transferEnded;
    listener->onFinished = [&] { listenerEnded.signal(); };
    broadcast->startThread();
    listener->startThread();

    const auto waitLimit = waitOnly > 0 ? waitOnly : timeout;

    while (listener->getStatus() == Listener::listening)
    {
        const auto waited = monotonic() - connectStart;

        if (waited >= waitLimit)
        {
            // A cancel while waiting: how long until the announcements end and the port is closed.
            const auto stopStart = monotonic();
            listener.reset();
            broadcast.reset();
            report ("\"result\": \"waited\", \"connect_start\": " + juce::String (connectStart, 6)
                    + ", \"seconds\": " + juce::String (waited, 3)
                    + ", \"wait_cpu_seconds\": " + juce::String (cpuSeconds() - connectCpu, 4)
                    + ", \"stop_ms\": " + juce::String (1000.0 * (monotonic() - stopStart), 3));
            return waitOnly > 0 ? 0 : 1;
        }

        // Like the tool's worker: asleep until the listener ends (or the time is up).
        listenerEnded.wait (1 + (int) (1000.0 * (waitLimit - waited)));
    }

    if (listener->getStatus() != Listener::connected)
    {
        report ("\"result\": \"connect\", \"code\": " + juce::String (listener->getStatus()));
        return 1;
    }

    const auto accepted = monotonic();
    auto connection = listener->takeConnection();
    broadcast->stopThread (-1);
    broadcast.reset();
    listener.reset();

    auto transfer = std::make_unique<Update> (*connection, file);
    transfer->onFinished = [&] { transferEnded.signal(); };
    const auto sendStart = monotonic();
    transfer->startThread();

    const auto sendLimitMs = cancelAfterMs > 0 ? cancelAfterMs : timeout * 1000.0;

    while (transfer->getStatus() == Update::sending)
    {
        const auto sentForMs = (monotonic() - sendStart) * 1000.0;

        if (sentForMs >= sendLimitMs)
            break;

        transferEnded.wait (1 + (int) (sendLimitMs - sentForMs));
    }

    const auto ended = monotonic();
    const auto sendSeconds = ended - sendStart;
    const auto status = transfer->getStatus();
    const auto bytes = transfer->getBytesSent();
    const auto chunks = file.getSize() / Update::chunkSize + 1;

    // A cancel: destroying the transfer ends it, also when a peer that stopped
    // reading holds its send.
    const auto stopStart = monotonic();
    transfer.reset();
    const auto stopMs = 1000.0 * (monotonic() - stopStart);

    report ("\"result\": \"" + juce::String (status == 0 ? "ok" : "send") + "\", \"code\": " + juce::String (status)
            + ", \"bytes\": " + juce::String (bytes)
            + ", \"check_seconds\": " + juce::String (checkSeconds, 4)
            + ", \"connect_start\": " + juce::String (connectStart, 6)
            + ", \"accepted\": " + juce::String (accepted, 6)
            + ", \"send_seconds\": " + juce::String (sendSeconds, 4)
            + ", \"ended\": " + juce::String (ended, 6)
            + ", \"chunks\": " + juce::String (chunks)
            + ", \"ideal_seconds\": " + juce::String ((double) chunks * 0.001, 4)
            + ", \"stop_ms\": " + juce::String (stopMs, 3));
    return status == 0 ? 0 : 1;
}

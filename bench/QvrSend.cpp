// A headless sender for measurements: the connect and send phases of the tool
// (announce, listen, transfer) without the window, timed from inside.
//
// It announces on every interface the system lists, so it refuses to run unless
// all of them lie in 192.0.2.0/24 (the private test namespaces) or are loopback.

#include <chrono>
#include <cstdio>
#include <memory>

#include "net/Broadcast.h"
#include "net/Listener.h"
#include "net/Update.h"
#include "net/UpdateEnvironment.h"

namespace
{
    using Clock = std::chrono::steady_clock;

    double secondsSince (Clock::time_point t) { return std::chrono::duration<double> (Clock::now() - t).count(); }

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

    int fail (const char* what, int code)
    {
        std::printf ("{\"result\": \"%s\", \"code\": %d}\n", what, code);
        return 1;
    }
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: qvr_send FILE [--wait-only SECONDS] [--timeout SECONDS]\n");
        return 2;
    }

    const juce::File file (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    double waitOnly = 0, timeout = 600;

    for (int i = 2; i + 1 < argc; i += 2)
    {
        const juce::String option (argv[i]);
        if (option == "--wait-only")
            waitOnly = juce::String (argv[i + 1]).getDoubleValue();
        else if (option == "--timeout")
            timeout = juce::String (argv[i + 1]).getDoubleValue();
    }

    if (! onlyTestNetworks())
    {
        std::fprintf (stderr, "qvr_send: refusing to announce outside 192.0.2.0/24; run it inside the test namespaces\n");
        return 3;
    }

    const auto started = Clock::now();
    UpdateEnvironment environment (file, querySystemInterfaces);
    const auto checkSeconds = secondsSince (started);

    if (environment.getStatus() != 0)
        return fail ("initialise", environment.getStatus());

    const auto connectStart = Clock::now();
    auto broadcast = std::make_unique<Broadcast> (environment);
    auto listener = std::make_unique<Listener>();
    broadcast->startThread();
    listener->startThread();

    while (listener->getStatus() == Listener::listening)
    {
        if (secondsSince (connectStart) > (waitOnly > 0 ? waitOnly : timeout))
        {
            // How long a cancel takes to end the announcements and close the port.
            const auto waited = secondsSince (connectStart);
            const auto stopStart = Clock::now();
            listener.reset();
            broadcast.reset();
            std::printf ("{\"result\": \"waited\", \"seconds\": %.3f, \"stop_ms\": %.3f}\n", waited, 1000.0 * secondsSince (stopStart));
            return waitOnly > 0 ? 0 : 1;
        }

        juce::Thread::sleep (10);
    }

    if (listener->getStatus() != Listener::connected)
        return fail ("connect", listener->getStatus());

    const auto accepted = Clock::now();
    auto connection = listener->takeConnection();
    broadcast->stopThread (-1);
    broadcast.reset();
    listener.reset();

    Update transfer (*connection, file);
    const auto sendStart = Clock::now();
    transfer.startThread();

    while (transfer.getStatus() == Update::sending && secondsSince (sendStart) < timeout)
        juce::Thread::sleep (1);

    const auto sendSeconds = secondsSince (sendStart);
    const auto status = transfer.getStatus();
    const auto chunks = transfer.getTotalBytes() / Update::chunkSize + 1;

    std::printf ("{\"result\": \"%s\", \"code\": %d, \"bytes\": %lld, \"check_seconds\": %.4f, "
                 "\"connect_seconds\": %.4f, \"send_seconds\": %.4f, \"chunks\": %lld, \"ideal_seconds\": %.4f}\n",
                 status == 0 ? "ok" : "send",
                 status,
                 (long long) transfer.getBytesSent(),
                 checkSeconds,
                 std::chrono::duration<double> (accepted - connectStart).count(),
                 sendSeconds,
                 (long long) chunks,
                 (double) chunks * 0.001);
    return status == 0 ? 0 : 1;
}

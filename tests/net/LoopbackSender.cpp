// The sender's connect and send phases, run the way the workflow runs them
// (announcer and listener together, polled every 10 ms; then the transfer), but
// on loopback only: the interfaces come from the command line and must all lie
// in 127.0.0.0/8. The far end for the mixer simulator's test.
//
// qvr_loopback_sender --file F --announce-port A [--listen-port P] [--interface 127.0.0.2/8]...
//                     [--connect-timeout S] [--send-timeout S]
// Prints one JSON line.

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

    bool parseInterface (const juce::String& text, Ipv4Interface& result)
    {
        const auto address = juce::StringArray::fromTokens (text.upToFirstOccurrenceOf ("/", false, false), ".", {});
        const auto prefix = text.fromFirstOccurrenceOf ("/", false, false).getIntValue();

        if (address.size() != 4 || ! text.contains ("/") || prefix < 0 || prefix > 32)
            return false;

        std::uint32_t value = 0;

        for (auto& part : address)
        {
            if (! part.containsOnly ("0123456789") || part.isEmpty() || part.getIntValue() > 255)
                return false;

            value = (value << 8) | (std::uint32_t) part.getIntValue();
        }

        result.address = value;
        result.netmask = prefix == 0 ? 0u : 0xffffffffu << (32 - prefix);
        return (value >> 24) == 127;
    }

    int usage()
    {
        std::fprintf (stderr, "usage: qvr_loopback_sender --file F --announce-port A [--listen-port P] "
                              "[--interface 127.x.x.x/N]... [--connect-timeout S] [--send-timeout S]\n");
        return 2;
    }
}

int main (int argc, char** argv)
{
    juce::File file;
    int announcePort = 0, listenPort = 0;
    double connectTimeout = 20, sendTimeout = 60;
    std::vector<Ipv4Interface> interfaces;

    for (int i = 1; i + 1 < argc; i += 2)
    {
        const juce::String option (argv[i]), value (argv[i + 1]);

        if (option == "--file")
            file = juce::File::getCurrentWorkingDirectory().getChildFile (value);
        else if (option == "--announce-port")
            announcePort = value.getIntValue();
        else if (option == "--listen-port")
            listenPort = value.getIntValue();
        else if (option == "--connect-timeout")
            connectTimeout = value.getDoubleValue();
        else if (option == "--send-timeout")
            sendTimeout = value.getDoubleValue();
        else if (option == "--interface")
        {
            Ipv4Interface parsed;

            if (! parseInterface (value, parsed))
            {
                std::fprintf (stderr, "qvr_loopback_sender: %s is not a 127.0.0.0/8 interface\n", argv[i + 1]);
                return 2;
            }

            interfaces.push_back (parsed);
        }
        else
            return usage();
    }

    if (file == juce::File() || announcePort <= 0 || announcePort > 65535)
        return usage();

    UpdateEnvironment environment (file, [interfaces] (std::vector<Ipv4Interface>& out)
                                   {
                                       out = interfaces;
                                       return InterfaceQueryResult::ok;
                                   });

    if (environment.getStatus() != 0)
    {
        std::printf ("{\"result\": \"init_failed\", \"init_status\": %d}\n", environment.getStatus());
        return 0;
    }

    // The listener goes first here so that the announcements can carry the port it got.
    auto listener = std::make_unique<Listener> (listenPort);
    listener->startThread();

    if (! listener->waitUntilListening (5000))
    {
        std::printf ("{\"result\": \"connect_failed\", \"listen_status\": %d}\n", listener->getStatus());
        return 0;
    }

    const auto port = listener->getPort();
    auto broadcast = std::make_unique<Broadcast> (environment, port, announcePort);
    broadcast->startThread();

    const auto connectStart = Clock::now();

    while (listener->getStatus() == Listener::listening && broadcast->getStatus() == Broadcast::running
           && secondsSince (connectStart) < connectTimeout)
        juce::Thread::sleep (10);

    if (listener->getStatus() != Listener::connected)
    {
        const auto stopStart = Clock::now();
        const auto broadcastStatus = broadcast->getStatus();
        listener.reset();
        broadcast.reset();
        std::printf ("{\"result\": \"waited\", \"port\": %d, \"broadcast_status\": %d, \"stop_ms\": %.3f}\n",
                     port, broadcastStatus, 1000.0 * secondsSince (stopStart));
        return 0;
    }

    auto connection = listener->takeConnection();
    broadcast->stopThread (-1);
    broadcast.reset();
    listener.reset();

    auto transfer = std::make_unique<Update> (*connection, file);
    const auto sendStart = Clock::now();
    transfer->startThread();

    while (transfer->getStatus() == Update::sending && secondsSince (sendStart) < sendTimeout)
        juce::Thread::sleep (1);

    const auto sendSeconds = secondsSince (sendStart);
    const auto status = transfer->getStatus();
    const auto bytesSent = transfer->getBytesSent();
    const auto totalBytes = transfer->getTotalBytes();

    const auto stopStart = Clock::now();
    transfer.reset();
    const auto stopMs = 1000.0 * secondsSince (stopStart);

    const auto chunks = totalBytes / Update::chunkSize + 1;

    std::printf ("{\"result\": \"%s\", \"send_status\": %d, \"port\": %d, \"bytes_sent\": %lld, \"total_bytes\": %lld, "
                 "\"send_seconds\": %.4f, \"chunks\": %lld, \"pacing_ratio\": %.4f, \"stop_ms\": %.3f}\n",
                 status == Update::sending ? "cancelled" : "sent",
                 status,
                 port,
                 (long long) bytesSent,
                 (long long) totalBytes,
                 sendSeconds,
                 (long long) chunks,
                 sendSeconds / ((double) chunks * 0.001),
                 stopMs);
    return 0;
}

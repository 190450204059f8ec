#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NetTestSupport.h"
#include "net/MixerFleet.h"

using namespace nettest;

namespace
{
    // A peer from 127.0.0.3, as a stranger on the network comes: what it got
    // until the fleet closed its connection, or until timeoutMs.
    std::string fromStranger (int port, int timeoutMs)
    {
        const int s = ::socket (AF_INET, SOCK_STREAM, 0);
        sockaddr_in from {}, to {};
        from.sin_family = to.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl (ipv4 (127, 0, 0, 3));
        to.sin_addr.s_addr = htonl (ipv4 (127, 0, 0, 1));
        to.sin_port = htons ((std::uint16_t) port);
        std::string got = "(no connection)";

        if (::bind (s, reinterpret_cast<sockaddr*> (&from), sizeof (from)) == 0
            && ::connect (s, reinterpret_cast<sockaddr*> (&to), sizeof (to)) == 0)
        {
            got.clear();
            char buffer[4096];
            pollfd p { s, POLLIN, 0 };

            for (ssize_t n = 1; n > 0 && ::poll (&p, 1, timeoutMs) == 1;)
                if ((n = ::recv (s, buffer, sizeof (buffer), 0)) > 0)
                    got.append (buffer, (size_t) n);
        }

        ::close (s);
        return got;
    }

    struct Worker final : juce::Thread
    {
        explicit Worker (MixerFleet& f) : juce::Thread ("fleet"), fleet (f) {}
        ~Worker() override { stopThread (-1); }
        void run() override { result = fleet.runInitialiseStep (*this) == 0 ? fleet.runConnectAndSendStep (*this) : -100; }

        MixerFleet& fleet;
        std::atomic<int> result { -100 };
    };
}

// A stranger not on the allow-list and a mixer beyond the expected number get
// not a byte; the deadline closes the port for latecomers but ends no transfer.
TEST (MixerFleet, StrangersAndSurplusGetNothingAndTheDeadlineOnlyEndsTheWait)
{
    ScratchFolder scratch;
    const auto image = updateImage (200 * 1024 + 3);
    AnnouncementReceiver receiver;

    for (const bool surplus : { false, true })
    {
        SCOPED_TRACE (surplus ? "surplus" : "stranger and deadline");
        MixerFleet* fleet = nullptr;
        juce::StringArray events;
        const auto saw = [&] (const char* kind)
        {
            return waitFor ([&]
                            {
                                for (auto& e : fleet->takeEvents())
                                    events.add (juce::StringArray { "connected", "refused", "surplus", "ended" }[(int) e.kind] + " " + e.address);

                                return events.joinIntoString (",").contains (kind);
                            },
                            3000);
        };

        Peer mixer;
        std::string unwanted;
        int port = 0;
        std::atomic<bool> everyoneCame { false };

        // Everyone comes before the first announcement: the fleet cannot close the port in between.
        MixerFleet::Settings settings;
        settings.link.updateFile = scratch.write ("fw.upd", image);
        settings.link.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
        settings.link.listenerPort = 0;
        settings.link.announcePort = receiver.port;
        settings.expected = surplus ? 1 : 2;
        settings.allowed = surplus ? juce::StringArray() : juce::StringArray ("127.0.0.1");
        // Passed while the mixer's transfer runs, which it must not end.
        settings.connectTimeoutSeconds = surplus ? 0.0 : 0.05;
        settings.link.onListening = [&] (const Listener& listener)
        {
            port = listener.getPort();

            const auto mixerComes = [&] { EXPECT_TRUE (mixer.connect (port) && saw ("connected 127.0.0.1")); };

            if (surplus)
                mixerComes();

            unwanted = fromStranger (port, 3000);
            EXPECT_TRUE (saw (surplus ? "surplus 127.0.0.3" : "refused 127.0.0.3"));

            if (! surplus)
                mixerComes();

            everyoneCame = true;
        };

        MixerFleet run (settings);
        fleet = &run;
        Worker worker (run);
        worker.startThread();

        ASSERT_TRUE (waitFor ([&] { return everyoneCame.load(); }, 8000));
        std::string stream;
        mixer.read (stream, 4 + image.size(), 10000);
        EXPECT_TRUE (stream == std::string ("\0\x03\x20\x03", 4) + image) << "the mixer got " << stream.size() << " bytes";
        EXPECT_EQ (unwanted, "");
        ASSERT_TRUE (worker.waitForThreadToExit (5000));
        EXPECT_EQ (worker.result, 0);
        EXPECT_EQ (run.hasTimedOut(), ! surplus);
        EXPECT_TRUE (saw ("ended 127.0.0.1"));
        EXPECT_EQ (fromStranger (port, 1000), "(no connection)") << "the port is still open";
    }
}

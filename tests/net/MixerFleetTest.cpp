#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/MixerFleet.h"

using namespace nettest;

// A peer not on the allow-list and one beyond the expected number get not a
// byte; the deadline closes the port for latecomers but ends no transfer.
TEST (MixerFleet, StrangersAndSurplusGetNothingAndTheDeadlineOnlyEndsTheWait)
{
    ScratchFolder scratch;
    const auto image = updateImage (200 * 1024 + 3);
    AnnouncementReceiver receiver;

    // The deadline passes while the mixer's transfer runs; a second peer comes only where it has an event.
    const struct { int expected; const char* allowed; double deadline; const char* first; const char* second; } cases[] = {
        { 2, "127.0.0.1", 0.05, "connected", nullptr }, { 1, "", 0.0, "connected", "surplus" }, { 1, "127.0.0.9", 0.05, "refused", nullptr },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.allowed);
        std::unique_ptr<MixerFleet> fleet;
        juce::StringArray events;
        const auto saw = [&] (const juce::String& event)
        {
            return waitFor ([&]
                            {
                                for (auto& e : fleet->takeEvents())
                                    events.add (juce::StringArray { "connected", "refused", "surplus", "ended" }[(int) e.kind]);

                                return events.contains (event);
                            },
                            3000);
        };

        // Both come before the first announcement: the fleet cannot close the port in between.
        Peer first, second;
        int port = 0;
        std::atomic<bool> came { false };
        MixerFleet::Settings settings;
        settings.link.updateFile = scratch.write ("fw.upd", image);
        settings.link.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
        settings.link.listenerPort = 0;
        settings.link.announcePort = receiver.port;
        settings.link.onListening = [&] (const Listener& listener)
        {
            port = listener.getPort();
            EXPECT_TRUE (first.connect (port) && saw (c.first));
            EXPECT_TRUE (c.second == nullptr || (second.connect (port) && saw (c.second)));
            came = true;
        };
        settings.expected = c.expected;
        settings.allowed = juce::StringArray::fromTokens (c.allowed, ",", "");
        settings.connectTimeoutSeconds = c.deadline;

        fleet = std::make_unique<MixerFleet> (settings);
        StepThread worker ([&] (juce::Thread& t) { return fleet->runInitialiseStep (t) == 0 ? fleet->runConnectAndSendStep (t) : -100; });
        ASSERT_TRUE (waitFor ([&] { return came.load(); }, 8000));

        std::string stream, unwanted;
        const bool mixer = juce::String (c.first) == "connected";
        first.read (stream, 4 + image.size(), 10000);
        EXPECT_TRUE (mixer ? stream == std::string ("\0\x03\x20\x03", 4) + image : stream.empty()) << stream.size() << " bytes";
        EXPECT_TRUE (c.second == nullptr || (second.readToEnd (unwanted, 3000) && unwanted.empty()));
        EXPECT_EQ (worker.outcome (5000), 0);
        EXPECT_EQ (fleet->hasTimedOut(), c.deadline > 0.0);
        EXPECT_EQ (mixer && saw ("ended"), mixer);
        EXPECT_FALSE (Peer().connect (port)) << "the port is still open";
    }
}

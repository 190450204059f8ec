#include <gtest/gtest.h>

#include <juce_cryptography/juce_cryptography.h>

#include "NetTestSupport.h"
#include "net/MixerLink.h"

using namespace nettest;

namespace
{
    // The workflow's worker: runs one step on its own thread.
    class StepThread final : public juce::Thread
    {
    public:
        explicit StepThread (std::function<int (juce::Thread&)> s) : juce::Thread ("step"), step (std::move (s)) {}
        ~StepThread() override { stopThread (-1); }

        void run() override
        {
            result = step (*this);
            finished.signal();
        }

        bool waitForResult (int timeoutMs) { return finished.wait (timeoutMs); }

        std::atomic<int> result { -100 };

    private:
        std::function<int (juce::Thread&)> step;
        juce::WaitableEvent finished;
    };

    class MixerLinkTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            image = updateImage (50 * 1024 + 1);
            settings.updateFile = scratch.write ("fw.upd", image);
            settings.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
            settings.listenerPort = freeTcpPort();
        }

        void TearDown() override
        {
            worker.reset();
            link.reset();
        }

        void makeLink (const AnnouncementReceiver& receiver)
        {
            settings.announcePort = receiver.port;
            link = std::make_unique<MixerLink> (settings);
            StepThread notStopped ({});
            ASSERT_EQ (link->runInitialiseStep (notStopped), 0);
        }

        void start (std::function<int (juce::Thread&)> step)
        {
            worker = std::make_unique<StepThread> (std::move (step));
            worker->startThread();
        }

        void startConnect() { start ([this] (juce::Thread& t) { return link->runConnectStep (t); }); }

        int result (int timeoutMs) { return worker->waitForResult (timeoutMs) ? worker->result.load() : -100; }

        /** Connects the peer to the port the first announcement names. */
        bool answerFirstAnnouncement (AnnouncementReceiver& receiver, Peer& peer)
        {
            const auto heard = receiver.listen (0, 3000);
            const auto expected = Broadcast::makeAnnouncement ("127.0.0.2", settings.listenerPort);
            return ! heard.empty() && heard.front() == std::string ((const char*) expected.getData(), expected.getSize())
                && peer.connect (settings.listenerPort);
        }

        ScratchFolder scratch;
        std::string image;
        MixerLink::Settings settings;
        std::unique_ptr<MixerLink> link;
        std::unique_ptr<StepThread> worker;
    };
}

// Twice on the same port, as a technician updates one mixer after another: the
// first run's connection, closed by us, lingers on the port when the second listens.
TEST_F (MixerLinkTest, WholeRoadTwiceInARowOnTheSamePortAtTheMixersPace)
{
    for (int run = 0; run < 2; ++run)
    {
        SCOPED_TRACE (run);
        AnnouncementReceiver receiver;
        makeLink (receiver);
        EXPECT_EQ (link->getSendProgress().describe(), "0 %  0 / 51 kB  0:01");

        // The port named by the very first announcement already accepts.
        Peer peer;
        startConnect();
        ASSERT_TRUE (answerFirstAnnouncement (receiver, peer));
        ASSERT_EQ (result (3000), 0);
        EXPECT_FALSE (link->getMixerAddress().isEmpty());

        const auto started = Clock::now();
        start ([this] (juce::Thread& t) { return link->runSendStep (t); });
        std::string received;
        peer.read (received, 4 + image.size(), 10000);
        const auto elapsed = millisecondsSince (started);
        ASSERT_EQ (result (5000), 0);

        ASSERT_EQ (received.size(), 4 + image.size());
        EXPECT_EQ (readBigEndian32 (received), image.size());
        EXPECT_TRUE (received.substr (4) == image);
        EXPECT_EQ (link->getSendProgress().fraction(), 1.0);
        EXPECT_EQ (link->wasDelivered(), systemTellsAcknowledgements());
        EXPECT_EQ (link->getSentSha256(), juce::SHA256 (image.data(), image.size()).toHexString());

        // 51 chunks, each followed by at least 1 ms; the last one's pause may still run.
        EXPECT_GE (elapsed, 50.0);

        // Still open after the transfer; closed (by us, first) once the link goes at program end.
        std::string more;
        EXPECT_TRUE (peer.read (more, 1, 100));
        worker.reset();
        link.reset();
        EXPECT_TRUE (peer.readToEnd (more, 2000));
        EXPECT_TRUE (more.empty());
    }
}

TEST_F (MixerLinkTest, MixerThatConnectsBeforeAnythingIsAnnouncedIsTaken)
{
    // A mixer that knows our address from an earlier run connects as soon as
    // the port listens; here it is in before the step looks for the first time.
    Peer peer;
    settings.onListening = [&peer] (const Listener& listener)
    {
        ASSERT_TRUE (peer.connect (listener.getPort()));
        ASSERT_TRUE (waitFor ([&] { return listener.getStatus() == Listener::connected; }, 5000));
    };

    AnnouncementReceiver receiver;
    makeLink (receiver);
    startConnect();
    ASSERT_EQ (result (5000), 0);
    EXPECT_TRUE (link->isConnected());

    start ([this] (juce::Thread& t) { return link->runSendStep (t); });
    std::string received;
    peer.read (received, 4 + image.size(), 10000);
    EXPECT_EQ (result (5000), 0);
    EXPECT_EQ (received.size(), 4 + image.size());
}

// The wait for the mixer may take hours: a file replaced since the check (same
// size, another model) is not sent; the mixer gets not even the length.
TEST_F (MixerLinkTest, FileSwappedWhileWaitingForTheMixerIsNotSent)
{
    AnnouncementReceiver receiver;
    makeLink (receiver);
    scratch.write ("fw.upd", "QVR-6000" + image.substr (8));

    Peer peer;
    startConnect();
    ASSERT_TRUE (answerFirstAnnouncement (receiver, peer));
    ASSERT_EQ (result (3000), 0);
    start ([this] (juce::Thread& t) { return link->runSendStep (t); });
    EXPECT_EQ (result (3000), Update::fileMissing);

    worker.reset();
    link.reset();
    std::string received;
    EXPECT_TRUE (peer.readToEnd (received, 2000));
    EXPECT_TRUE (received.empty());
}

TEST_F (MixerLinkTest, StopRequestEndsConnectAndFreesPortAndAnnouncements)
{
    AnnouncementReceiver receiver;
    makeLink (receiver);
    startConnect();
    ASSERT_FALSE (receiver.listen (0, 3000).empty());

    worker->signalThreadShouldExit();
    EXPECT_EQ (result (1000), -1);

    Peer late;
    EXPECT_FALSE (late.connect (settings.listenerPort));
    receiver.drain();
    EXPECT_TRUE (receiver.listen (0, 300).empty()) << "still announcing";
}

TEST_F (MixerLinkTest, PortInUseFailsWithC1BeforeAnyAnnouncement)
{
    juce::StreamingSocket occupant;
    ASSERT_TRUE (occupant.createListener (settings.listenerPort));
    std::atomic<bool> toldListening { false };
    settings.onListening = [&] (const Listener&) { toldListening = true; };

    AnnouncementReceiver receiver;
    makeLink (receiver);
    startConnect();
    EXPECT_EQ (result (3000), Listener::cannotListen);
    EXPECT_TRUE (receiver.listen (0, 300).empty());
    EXPECT_FALSE (toldListening);
}

#if defined (__linux__)
// Inside a private network, where 192.0.2.255 has no route: an adapter that
// cannot be sent to beside one that can, and then one alone.
TEST_F (MixerLinkTest, AnnouncerThatCanReachNoSubnetEndsTheWaitWithC4)
{
    const bool ran = inPrivateNetwork ([this]
    {
        settings.interfaces = fixedInterfaces ({ { ipv4 (192, 0, 2, 7), ipv4 (255, 255, 255, 0) } });
        AnnouncementReceiver receiver;
        makeLink (receiver);
        startConnect();
        EXPECT_EQ (result (15000), Broadcast::sendFailed);
        worker.reset();
        link.reset();
    });

    if (! ran)
        GTEST_SKIP() << "no private network namespace (needs root)";
}
#endif

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "app/MixerLink.h"

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
            image = updateImage (5000);
            settings.updateFile = scratch.write ("fw.upd", image);
            settings.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
            settings.listenerPort = freeTcpPort();
            settings.announcePort = receiver.port;
            link = std::make_unique<MixerLink> (settings);
        }

        void TearDown() override
        {
            worker.reset();
            link.reset();
        }

        void start (std::function<int (juce::Thread&)> step)
        {
            worker = std::make_unique<StepThread> (std::move (step));
            worker->startThread();
        }

        int connectOnFirstAnnouncement (Peer& peer)
        {
            start ([this] (juce::Thread& t) { return link->runConnectStep (t); });
            const auto heard = receiver.listen (0, 3000);

            if (heard.empty())
                return -100;

            const auto& a = heard.front().bytes;
            const int port = ((std::uint8_t) a[2] << 8) | (std::uint8_t) a[3];

            if (port != settings.listenerPort || ! peer.connect (port))
                return -101;

            return worker->waitForResult (3000) ? worker->result.load() : -102;
        }

        ScratchFolder scratch;
        std::string image;
        AnnouncementReceiver receiver;
        MixerLink::Settings settings;
        std::unique_ptr<MixerLink> link;
        std::unique_ptr<StepThread> worker;
    };
}

TEST_F (MixerLinkTest, WholeRoadOnLoopbackKeepsTheConnectionUntilTheEnd)
{
    ASSERT_EQ (link->runInitialiseStep(), 0);

    // The port named by the very first announcement already accepts.
    Peer peer;
    ASSERT_EQ (connectOnFirstAnnouncement (peer), 0);
    EXPECT_TRUE (link->isConnected());

    start ([this] (juce::Thread& t) { return link->runSendStep (t); });
    std::string received;
    peer.read (received, 4 + image.size(), 5000);
    ASSERT_TRUE (worker->waitForResult (5000));
    EXPECT_EQ (worker->result, 0);
    ASSERT_EQ (received.size(), 4 + image.size());
    EXPECT_EQ (readBigEndian32 (received), image.size());
    EXPECT_TRUE (received.substr (4) == image);
    EXPECT_EQ (link->getSendProgress(), 1.0);

    // Still open after the transfer; closed once the link goes at program end.
    std::string more;
    EXPECT_TRUE (peer.read (more, 1, 100));
    worker.reset();
    link.reset();
    EXPECT_TRUE (peer.readToEnd (more, 2000));
    EXPECT_TRUE (more.empty());
}

TEST_F (MixerLinkTest, StopRequestEndsConnectAndFreesPortAndAnnouncements)
{
    ASSERT_EQ (link->runInitialiseStep(), 0);
    start ([this] (juce::Thread& t) { return link->runConnectStep (t); });
    ASSERT_FALSE (receiver.listen (0, 3000).empty());

    const auto asked = Clock::now();
    worker->signalThreadShouldExit();
    ASSERT_TRUE (worker->waitForResult (1000));
    EXPECT_EQ (worker->result, -1);
    EXPECT_LT (millisecondsSince (asked), 200.0);

    Peer late;
    EXPECT_FALSE (late.connect (settings.listenerPort));
    receiver.drain();
    EXPECT_TRUE (receiver.listen (0, 300).empty()) << "still announcing";
}

TEST_F (MixerLinkTest, PortInUseFailsWithC1BeforeAnyAnnouncement)
{
    juce::StreamingSocket occupant;
    ASSERT_TRUE (occupant.createListener (settings.listenerPort, "0.0.0.0"));
    ASSERT_EQ (link->runInitialiseStep(), 0);

    start ([this] (juce::Thread& t) { return link->runConnectStep (t); });
    ASSERT_TRUE (worker->waitForResult (3000));
    EXPECT_EQ (worker->result, 1);
    EXPECT_TRUE (receiver.listen (0, 300).empty());
}

TEST_F (MixerLinkTest, MissingUpdateFileFailsInitialiseWithI4AndConnectRefuses)
{
    settings.updateFile = scratch.file ("absent.upd");
    link = std::make_unique<MixerLink> (settings);
    EXPECT_EQ (link->runInitialiseStep(), 4);

    start ([this] (juce::Thread& t) { return link->runConnectStep (t); });
    ASSERT_TRUE (worker->waitForResult (1000));
    EXPECT_NE (worker->result, 0);
    EXPECT_TRUE (receiver.listen (0, 200).empty());
}

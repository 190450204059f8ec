#include <gtest/gtest.h>

#include "NetTestSupport.h"

#if defined (__linux__)
 #include <dlfcn.h>
#endif
#include "net/MixerLink.h"

using namespace nettest;

namespace
{
    class MixerLinkTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            image = updateImage (50 * 1024 + 1);
            settings.updateFile = scratch.write ("fw.upd", image);
            settings.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
            settings.listenerPort = 0;   // the system's pick: no race with tests running beside this one
            settings.onListening = [this] (const Listener& listener) { port = listener.getPort(); };
        }

        void makeLink (const AnnouncementReceiver& receiver)
        {
            settings.announcePort = receiver.port;
            worker.reset();
            link = std::make_unique<MixerLink> (settings);
            start (&MixerLink::runInitialiseStep);
            ASSERT_EQ (result (5000), 0);
        }

        void start (int (MixerLink::*step) (juce::Thread&))
        {
            worker = std::make_unique<StepThread> ([this, step] (juce::Thread& t) { return (link.get()->*step) (t); });
        }

        int result (int timeoutMs) { return worker->outcome (timeoutMs); }

        /** Runs the connect step, and the peer connects to the port the first announcement names, as the mixer does. */
        bool connectToFirstAnnouncement (AnnouncementReceiver& receiver, Peer& peer)
        {
            start (&MixerLink::runConnectStep);
            const auto heard = receiver.listen (0, 3000);

            if (heard.empty() || heard.front().size() != 8)
                return false;

            const auto announced = ((std::uint8_t) heard.front()[2] << 8) | (std::uint8_t) heard.front()[3];
            EXPECT_EQ (announced, port.load()) << "the port that listens";
            return peer.connect (announced) && result (3000) == 0;
        }

        ScratchFolder scratch;
        std::string image;
        MixerLink::Settings settings;
        std::atomic<int> port { 0 };
        std::unique_ptr<MixerLink> link;
        std::unique_ptr<StepThread> worker;
    };
}

// Twice on the same port, as a technician updates one mixer after another: the
// first run's connection, closed by us, lingers on the port when the second listens.
TEST_F (MixerLinkTest, WholeRoadTwiceInARowOnTheSamePort)
{
    for (int run = 0; run < 2; ++run)
    {
        SCOPED_TRACE (run);
        settings.listenerPort = port;
        AnnouncementReceiver receiver;
        makeLink (receiver);
        EXPECT_EQ (link->getSendProgress().describe(), "0 %  0 / 51 kB  0:01");

        // The port named by the very first announcement already accepts.
        Peer peer;
        ASSERT_TRUE (connectToFirstAnnouncement (receiver, peer));
        EXPECT_EQ (link->getMixerAddress(), "127.0.0.1");

        start (&MixerLink::runSendStep);
        std::string received;
        peer.read (received, 4 + image.size(), 10000);
        ASSERT_EQ (result (5000), 0);

        EXPECT_TRUE (received == std::string ("\0\0\xc8\x01", 4) + image) << "the length, then the file";
        EXPECT_EQ (link->getSendProgress().fraction(), 1.0);
        EXPECT_EQ (link->wasDelivered(), systemTellsAcknowledgements());
        EXPECT_EQ (link->getSentSha256(), "7f12071337a1716b35a2ac31f406d8a6f7b3139f9a123d3c027f27543ac2faee");

        // Still open after the transfer; closed (by us, first) once the link goes at program end.
        std::string more;
        EXPECT_TRUE (peer.read (more, 1, 100));
        worker.reset();
        link.reset();
        EXPECT_TRUE (peer.readToEnd (more, 2000));
        EXPECT_TRUE (more.empty());
    }
}

// A mixer that knows our address from an earlier run connects as soon as the
// port listens, before anything is announced; Cancel during its long send
// ends the step at once, not once the whole file is through.
TEST_F (MixerLinkTest, EarlyMixerIsTakenAndAStopEndsItsSendAtOnce)
{
    settings.updateFile = scratch.write ("fw.upd", updateImage (4 * 1024 * 1024));
    Peer peer;
    settings.onListening = [&peer] (const Listener& listener)
    {
        ASSERT_TRUE (peer.connect (listener.getPort(), 8192));
        ASSERT_TRUE (waitFor ([&] { return listener.getStatus() == Listener::connected; }, 5000));
    };

    AnnouncementReceiver receiver;
    makeLink (receiver);
    start (&MixerLink::runConnectStep);
    ASSERT_EQ (result (5000), 0);

    start (&MixerLink::runSendStep);
    std::string received;
    ASSERT_TRUE (peer.read (received, 64 * 1024, 10000));
    ASSERT_EQ (received.size(), 64u * 1024);

    // The figures move while the file goes out; once the mixer reads no more,
    // they tell how long it has taken nothing.
    EXPECT_TRUE (waitFor ([&] { return link->getSendProgress().taken > 0; }, 1000));
    EXPECT_LT (link->getSendProgress().fraction(), 0.5);
    EXPECT_TRUE (waitFor ([&] { return link->getSendProgress().secondsWithoutTaking > 0.5; }, 5000));
    worker->signalThreadShouldExit();
    EXPECT_EQ (result (1000), -1) << "the send step ran on after the stop";
    peer.close();   // ends a send that runs on regardless, so that the test ends either way
}

// The wait for the mixer may take hours: a file cut since the check is not
// sent; the mixer gets not even the length.
TEST_F (MixerLinkTest, FileCutWhileWaitingForTheMixerIsNotSent)
{
    AnnouncementReceiver receiver;
    makeLink (receiver);
    scratch.write ("fw.upd", image.substr (0, 10 * 1024));

    Peer peer;
    ASSERT_TRUE (connectToFirstAnnouncement (receiver, peer));
    start (&MixerLink::runSendStep);
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
    start (&MixerLink::runConnectStep);
    ASSERT_FALSE (receiver.listen (0, 3000).empty());

    worker->signalThreadShouldExit();
    EXPECT_EQ (result (1000), -1);

    Peer late;
    EXPECT_FALSE (late.connect (port));
    EXPECT_TRUE (receiver.staysQuiet (300)) << "still announcing";
}

#if defined (__linux__)
namespace
{
    std::atomic<int> slowBindMs { 0 };
}

// The system's bind, for this test binary, slowed down while a test asks for
// it: a port that takes its time to listen, as on a sick system.
extern "C" int bind (int handle, const sockaddr* address, socklen_t length)
{
    static const auto real = reinterpret_cast<int (*) (int, const sockaddr*, socklen_t)> (::dlsym (RTLD_NEXT, "bind"));
    juce::Thread::sleep (slowBindMs.load());
    return real (handle, address, length);
}
#endif

#if defined (__linux__)
// A port that does not listen in time (the system slow to bind): C1, and no
// announcement of port 0, nor of any other.
TEST_F (MixerLinkTest, PortThatDoesNotListenInTimeFailsWithC1BeforeAnyAnnouncement)
{
    settings.listenTimeoutMs = 100;
    AnnouncementReceiver receiver;
    makeLink (receiver);
    slowBindMs = 400;
    start (&MixerLink::runConnectStep);
    EXPECT_EQ (result (3000), Listener::cannotListen);
    EXPECT_TRUE (receiver.listen (0, 600).empty());
    EXPECT_EQ (port.load(), 0) << "told that it listens";
    slowBindMs = 0;
}
#endif

#if defined (__linux__)
// Inside a private network, where 192.0.2.255 has no route: an adapter that
// cannot be sent to beside one that can silences nobody; alone, it ends the
// wait with C4 once nothing was taken for about five seconds, not at once.
TEST_F (MixerLinkTest, AnnouncerThatCanReachNoSubnetEndsTheWaitWithC4)
{
    const bool ran = inPrivateNetwork ([this]
    {
        settings.interfaces = fixedInterfaces ({ { ipv4 (192, 0, 2, 7), ipv4 (255, 255, 255, 0) },
                                                 { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
        AnnouncementReceiver receiver;
        makeLink (receiver);
        start (&MixerLink::runConnectStep);
        const auto heard = receiver.listen (450, 3000);
        EXPECT_GE (heard.size(), 3u) << "the working adapter stopped being announced";
        worker->signalThreadShouldExit();
        EXPECT_EQ (result (1000), -1) << "gave up while an adapter took the announcements";

        settings.interfaces = fixedInterfaces ({ { ipv4 (192, 0, 2, 7), ipv4 (255, 255, 255, 0) } });
        makeLink (receiver);
        const auto started = Clock::now();
        start (&MixerLink::runConnectStep);
        EXPECT_EQ (result (15000), Broadcast::sendFailed);
        EXPECT_GT (millisecondsSince (started), 3000.0) << "gave up after less than about five seconds";
        worker.reset();
        link.reset();
    });

    if (! ran)
        GTEST_SKIP() << "no private network namespace (needs root)";
}
#endif

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>

#include "NetTestSupport.h"
#include "net/Listener.h"

using namespace nettest;

namespace
{
    int intOption (int handle, int level, int option)
    {
        int value = 0;
        socklen_t size = sizeof (value);
        ::getsockopt (handle, level, option, &value, &size);
        return value;
    }

    // Binds a free loopback port without address reuse, so nobody may share it.
    class PortHolder
    {
    public:
        explicit PortHolder (bool listen)
        {
            handle = ::socket (AF_INET, SOCK_STREAM, 0);
            sockaddr_in a {};
            a.sin_family = AF_INET;
            ::bind (handle, reinterpret_cast<sockaddr*> (&a), sizeof (a));

            if (listen)
                ::listen (handle, 1);

            socklen_t size = sizeof (a);
            ::getsockname (handle, reinterpret_cast<sockaddr*> (&a), &size);
            port = ntohs (a.sin_port);
        }

        ~PortHolder() { ::close (handle); }

        int handle = -1, port = 0;
    };

    class ListenerTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            listener = std::make_unique<Listener> (0);
            listener->startThread();
            ASSERT_TRUE (listener->waitUntilListening (5000));
            port = listener->getPort();
            ASSERT_GT (port, 0);
        }

        void TearDown() override { listener.reset(); }

        bool waitForPeer() { return waitFor ([this] { return listener->getStatus() != Listener::listening; }, 5000); }

        std::unique_ptr<Listener> listener;
        int port = 0;
    };
}

TEST_F (ListenerTest, FirstPeerIsHandedOverReadyForBlockingSends)
{
    EXPECT_EQ (listener->getStatus(), Listener::listening);
    EXPECT_EQ (listener->takeConnection(), nullptr) << "nothing to take while waiting";

    Peer peer;
    ASSERT_TRUE (peer.connect (port));
    ASSERT_TRUE (waitForPeer());
    ASSERT_EQ (listener->getStatus(), Listener::connected);

    auto connection = listener->takeConnection();
    ASSERT_NE (connection, nullptr);
    EXPECT_EQ (listener->takeConnection(), nullptr) << "there is only one connection";

    const auto h = connection->getRawSocketHandle();
    EXPECT_TRUE (connection->isConnected());
    EXPECT_EQ (connection->getHostName(), "127.0.0.1");
    EXPECT_NE (intOption (h, IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_GE (intOption (h, SOL_SOCKET, SO_SNDBUF), 65536);
    EXPECT_GE (intOption (h, SOL_SOCKET, SO_RCVBUF), 65536);
    EXPECT_EQ (::fcntl (h, F_GETFL, 0) & O_NONBLOCK, 0);

    // The connection outlives the listener that accepted it.
    listener.reset();
    ASSERT_EQ (connection->write ("ping", 4), 4);
    std::string got;
    peer.read (got, 4, 2000);
    EXPECT_EQ (got, "ping");
}

TEST_F (ListenerTest, SecondPeerIsNeverAccepted)
{
    Peer first, second;
    ASSERT_TRUE (first.connect (port));
    ASSERT_TRUE (waitForPeer());
    auto connection = listener->takeConnection();
    ASSERT_NE (connection, nullptr);

    // The kernel may finish the second handshake from its backlog, but nobody
    // takes it: once the listener is gone the second peer is cut off, while
    // the first connection still carries data.
    EXPECT_TRUE (second.connect (port));
    EXPECT_EQ (listener->getStatus(), Listener::connected);
    EXPECT_EQ (listener->takeConnection(), nullptr);

    listener.reset();

    std::string nothing;
    EXPECT_TRUE (second.readToEnd (nothing, 2000));
    EXPECT_TRUE (nothing.empty());

    ASSERT_EQ (connection->write ("first", 5), 5);
    std::string got;
    first.read (got, 5, 2000);
    EXPECT_EQ (got, "first");
}

TEST_F (ListenerTest, StoppingWhileWaitingEndsWithoutAConnection)
{
    // JUCE's close would wake the accept with a connection from 127.0.0.1; a
    // stop must not turn that, or anything else, into a peer.
    const auto started = Clock::now();
    listener->signalThreadShouldExit();
    ASSERT_TRUE (listener->waitForThreadToExit (2000));
    EXPECT_LT (millisecondsSince (started), 500.0);
    EXPECT_EQ (listener->getStatus(), Listener::endedWithoutPeer);
    EXPECT_EQ (listener->takeConnection(), nullptr);
}

TEST_F (ListenerTest, DestroyingWhileWaitingIsQuickAndFreesThePort)
{
    const auto started = Clock::now();
    listener.reset();
    EXPECT_LT (millisecondsSince (started), 500.0);

    Peer late;
    EXPECT_FALSE (late.connect (port)) << "the port no longer listens";
}

TEST (ListenerFaults, PortHeldWithoutSharingCannotBeListenedOn)
{
    for (const bool holderListens : { false, true })
    {
        PortHolder holder (holderListens);
        Listener listener (holder.port);
        listener.startThread();

        EXPECT_FALSE (listener.waitUntilListening (5000));
        ASSERT_TRUE (waitFor ([&] { return listener.getStatus() != Listener::listening; }, 5000));
        EXPECT_EQ (listener.getStatus(), Listener::cannotListen);
        EXPECT_EQ (listener.getPort(), 0);
    }
}

TEST (ListenerFaults, DestroyedBeforeItEverRan)
{
    auto listener = std::make_unique<Listener> (0);
    EXPECT_EQ (listener->getStatus(), Listener::listening);
    EXPECT_FALSE (listener->waitUntilListening (0));
    listener.reset();
}

// The owner sleeps until told, so the word must come once, and only after the outcome is set.
TEST (ListenerFinished, CallbackComesOnceWithTheFinalStatusOnEveryEnding)
{
    struct Seen { std::atomic<int> calls { 0 }, status { -100 }; juce::WaitableEvent event; };

    auto watch = [] (Listener& l, Seen& seen)
    {
        l.onFinished = [&l, &seen] { seen.status = l.getStatus(); ++seen.calls; seen.event.signal(); };
    };

    {
        Seen seen;
        Listener listener (0);
        watch (listener, seen);
        listener.startThread();
        ASSERT_TRUE (listener.waitUntilListening (5000));
        EXPECT_FALSE (seen.event.wait (50)) << "told before anything happened";

        Peer peer;
        ASSERT_TRUE (peer.connect (listener.getPort()));
        ASSERT_TRUE (seen.event.wait (5000));
        EXPECT_EQ (seen.status, Listener::connected);
        listener.stopThread (-1);
        EXPECT_EQ (seen.calls, 1);
    }

    {
        Seen seen;
        auto listener = std::make_unique<Listener> (0);
        watch (*listener, seen);
        listener->startThread();
        ASSERT_TRUE (listener->waitUntilListening (5000));
        listener.reset();
        EXPECT_EQ (seen.calls, 1);
        EXPECT_EQ (seen.status, Listener::endedWithoutPeer);
    }

    {
        PortHolder holder (true);
        Seen seen;
        Listener listener (holder.port);
        watch (listener, seen);
        listener.startThread();
        ASSERT_TRUE (seen.event.wait (5000));
        EXPECT_EQ (seen.status, Listener::cannotListen);
    }
}

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Listener.h"

using namespace nettest;

namespace
{
    // Watches the finished-callback: the owner sleeps until told, so the word
    // must come once, and only after the outcome is set.
    struct Finished
    {
        explicit Finished (Listener& l)
        {
            l.onFinished = [this, &l] { status = l.getStatus(); ++calls; event.signal(); };
        }

        std::atomic<int> calls { 0 }, status { -100 };
        juce::WaitableEvent event;
    };

    class ListenerTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            listener = std::make_unique<Listener> (0);
            finished = std::make_unique<Finished> (*listener);
            listener->startThread();
            ASSERT_TRUE (listener->waitUntilListening (5000));
            port = listener->getPort();
        }

        std::unique_ptr<Listener> listener;
        std::unique_ptr<Finished> finished;
        int port = 0;
    };
}

TEST_F (ListenerTest, FirstPeerIsHandedOverOnceAndOutlivesTheListener)
{
    EXPECT_EQ (listener->takeConnection(), nullptr) << "nothing to take while waiting";
    EXPECT_FALSE (finished->event.wait (50)) << "told before anything happened";

    Peer first, second;
    ASSERT_TRUE (first.connect (port));
    ASSERT_TRUE (finished->event.wait (5000));
    EXPECT_EQ (finished->status, Listener::connected);

    auto connection = listener->takeConnection();
    ASSERT_NE (connection, nullptr);
    EXPECT_EQ (listener->takeConnection(), nullptr) << "there is only one connection";

    // The kernel may finish a second handshake from its backlog, but nobody
    // takes it: once the listener is gone that peer is cut off, while the
    // first connection still carries data.
    EXPECT_TRUE (second.connect (port));
    listener.reset();
    EXPECT_EQ (finished->calls, 1);

    std::string nothing;
    EXPECT_TRUE (second.readToEnd (nothing, 2000));
    EXPECT_TRUE (nothing.empty());

    ASSERT_EQ (connection->write ("first", 5), 5);
    std::string got;
    first.read (got, 5, 2000);
    EXPECT_EQ (got, "first");
}

TEST_F (ListenerTest, DestroyingWhileWaitingEndsWithoutAPeerAndFreesThePort)
{
    const auto started = Clock::now();
    listener.reset();
    EXPECT_LT (millisecondsSince (started), 1000.0);
    EXPECT_EQ (finished->calls, 1);
    EXPECT_EQ (finished->status, Listener::endedWithoutPeer);

    Peer late;
    EXPECT_FALSE (late.connect (port)) << "the port still listens";
}

TEST (ListenerFaults, PortThatAnotherProgramListensOnCannotBeListenedOn)
{
    juce::StreamingSocket occupant;
    ASSERT_TRUE (occupant.createListener (freeTcpPort()));

    Listener listener (occupant.getBoundPort());
    Finished finished (listener);
    listener.startThread();

    EXPECT_FALSE (listener.waitUntilListening (5000));
    ASSERT_TRUE (finished.event.wait (5000));
    EXPECT_EQ (finished.status, Listener::cannotListen);
    EXPECT_EQ (listener.getPort(), 0);
}

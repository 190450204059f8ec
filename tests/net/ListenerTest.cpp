#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Listener.h"

using namespace nettest;

// The owner sleeps until the finished-callback tells it, so the word must come
// once, and only after the outcome is set.
TEST (Listener, FirstPeerIsHandedOverOnceAndOutlivesTheListener)
{
    auto listener = std::make_unique<Listener> (0);
    std::atomic<int> calls { 0 }, status { -100 };
    juce::WaitableEvent finished;
    listener->onFinished = [&, &l = *listener] { status = l.getStatus(); ++calls; finished.signal(); };
    listener->startThread();
    ASSERT_TRUE (listener->waitUntilListening (5000));
    const auto port = listener->getPort();

    EXPECT_EQ (listener->takeConnection(), nullptr) << "nothing to take while waiting";
    EXPECT_FALSE (finished.wait (50)) << "told before anything happened";

    Peer first, second;
    ASSERT_TRUE (first.connect (port));
    ASSERT_TRUE (finished.wait (5000));
    EXPECT_EQ (status, Listener::connected);

    auto connection = listener->takeConnection();
    ASSERT_NE (connection, nullptr);
    EXPECT_EQ (listener->takeConnection(), nullptr) << "there is only one connection";

    // The kernel may finish a second handshake from its backlog, but nobody
    // takes it: once the listener is gone that peer is cut off, while the
    // first connection still carries data.
    EXPECT_TRUE (second.connect (port));
    listener.reset();
    EXPECT_EQ (calls, 1);

    std::string nothing;
    EXPECT_TRUE (second.readToEnd (nothing, 2000));
    EXPECT_TRUE (nothing.empty());

    ASSERT_EQ (connection->write ("first", 5), 5);
    std::string got;
    first.read (got, 5, 2000);
    EXPECT_EQ (got, "first");
}

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Pacer.h"
#include "net/Update.h"

using namespace nettest;

// Three mixers on one pacer: one stops reading at once; the other two still
// get the whole file at their own pace of at least 1 ms per chunk, and a stop
// ends the stalled one too, at once.
TEST (Pacer, StalledMixerHoldsUpNobodyAndAStopEndsEveryTransfer)
{
    const size_t size = 200 * 1024;
    ScratchFolder scratch;
    const auto image = updateImage (size);
    const auto file = scratch.write ("fw.upd", image);

    Peer peers[3];
    std::unique_ptr<juce::StreamingSocket> connections[3];
    std::shared_ptr<TransferSession> sessions[3];

    for (int i = 0; i < 3; ++i)
    {
        connections[i] = peers[i].link (i == 0 ? 4096 : 0);
        ASSERT_NE (connections[i], nullptr);
        sessions[i] = std::make_shared<TransferSession> (*connections[i], file, (juce::int64) size);
    }

    std::atomic<int> ended { 0 };
    Pacer pacer;
    pacer.onFinished = [&ended] (TransferSession&) { ++ended; };
    pacer.startThread();
    const auto started = Clock::now();

    for (auto& s : sessions)
        pacer.add (s);

    for (int i = 1; i < 3; ++i)
    {
        std::string stream;
        peers[i].read (stream, 4 + size, 10000);
        EXPECT_TRUE (stream.substr (4) == image) << "mixer " << i;
    }

    ASSERT_TRUE (waitFor ([&] { return ended == 2; }, 5000));
    const auto elapsed = millisecondsSince (started);
    EXPECT_GE (elapsed, 200.0) << "chunks less than 1 ms apart";
    EXPECT_LT (elapsed, 3 * 200.0 + 200.0) << "held up";

    for (int i = 1; i < 3; ++i)
        EXPECT_EQ (sessions[i]->isDelivered(), systemTellsAcknowledgements()) << "mixer " << i;

    EXPECT_EQ (sessions[0]->getStatus(), Update::sending);

    const auto asked = Clock::now();
    pacer.signalThreadShouldExit();
    pacer.notify();
    EXPECT_TRUE (pacer.waitForThreadToExit (2000));
    EXPECT_LT (millisecondsSince (asked), 1000.0);
    EXPECT_EQ (ended, 3);
    EXPECT_EQ (sessions[0]->getStatus(), Update::done);
    EXPECT_FALSE (sessions[0]->isDelivered());
}

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Pacer.h"
#include "net/Update.h"

using namespace nettest;

// Three mixers on one pacer: one stops reading at once; the other two still
// get the whole file at their own pace of at least 1 ms per chunk, no slower
// than one mixer alone in the same run, and a stop ends the stalled one too, at once.
TEST (Pacer, StalledMixerHoldsUpNobodyAndAStopEndsEveryTransfer)
{
    const size_t size = 200 * 1024;
    ScratchFolder scratch;
    const auto image = updateImage (size);
    const auto file = scratch.write ("fw.upd", image);

    // Mixers that all share one pacer: how long until those that read have the
    // whole file; the first one of several stops reading at once.
    Peer peers[4];
    std::unique_ptr<juce::StreamingSocket> connections[4];
    std::shared_ptr<TransferSession> sessions[4];
    std::atomic<int> ended { 0 };
    Pacer pacer;   // gone before the connections it sends on
    pacer.onFinished = [&ended] (TransferSession&) { ++ended; };
    pacer.startThread();

    const auto serve = [&] (int first, int count)
    {
        for (int i = first; i < first + count; ++i)
        {
            connections[i] = peers[i].link (count > 1 && i == first ? 4096 : 0);
            sessions[i] = std::make_shared<TransferSession> (*connections[i], file, (juce::int64) size);
            pacer.add (sessions[i]);
        }

        const auto started = Clock::now();

        for (int i = count > 1 ? first + 1 : first; i < first + count; ++i)
        {
            std::string stream;
            peers[i].read (stream, 4 + size, 10000);
            EXPECT_TRUE (stream.substr (4) == image) << "mixer " << i;
        }

        EXPECT_TRUE (waitFor ([&] { return sessions[first + count - 1]->getStatus() != Update::sending; }, 5000));
        return millisecondsSince (started);
    };

    const auto one = serve (0, 1);
    const auto three = serve (1, 3);
    EXPECT_GE (one, 200.0) << "chunks less than 1 ms apart";
    EXPECT_LT (three, 1.5 * one) << "the mixers were held up by each other";
    ASSERT_TRUE (waitFor ([&] { return ended == 3; }, 5000));

    for (int i : { 2, 3 })
        EXPECT_EQ (sessions[i]->isDelivered(), systemTellsAcknowledgements()) << "mixer " << i;

    EXPECT_EQ (sessions[1]->getStatus(), Update::sending);

    const auto asked = Clock::now();
    pacer.signalThreadShouldExit();
    pacer.notify();
    EXPECT_TRUE (pacer.waitForThreadToExit (2000));
    EXPECT_LT (millisecondsSince (asked), 1000.0);
    EXPECT_EQ (ended, 4);
    EXPECT_EQ (sessions[1]->getStatus(), Update::done);
    EXPECT_FALSE (sessions[1]->isDelivered());
}

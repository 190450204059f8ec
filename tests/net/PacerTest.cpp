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

    // Milliseconds until `readers` peers of `count` have the whole file; the first `count - readers` stop reading.
    const auto serve = [&] (Pacer& pacer, std::vector<Peer>& peers, std::vector<std::unique_ptr<juce::StreamingSocket>>& connections,
                            std::vector<std::shared_ptr<TransferSession>>& sessions, int count, int readers)
    {
        peers.resize ((size_t) count);

        for (int i = 0; i < count; ++i)
        {
            connections.push_back (peers[(size_t) i].link (i < count - readers ? 4096 : 0));
            sessions.push_back (std::make_shared<TransferSession> (*connections.back(), file, (juce::int64) size));
        }

        const auto started = Clock::now();

        for (auto& s : sessions)
            pacer.add (s);

        for (int i = count - readers; i < count; ++i)
        {
            std::string stream;
            peers[(size_t) i].read (stream, 4 + size, 10000);
            EXPECT_TRUE (stream.substr (4) == image) << "mixer " << i;
        }

        EXPECT_TRUE (waitFor ([&] { return sessions.back()->getStatus() != Update::sending; }, 5000));
        return millisecondsSince (started);
    };

    std::atomic<int> ended { 0 };
    Pacer pacer;
    pacer.onFinished = [&ended] (TransferSession&) { ++ended; };
    pacer.startThread();

    std::vector<Peer> alonePeer, peers;
    std::vector<std::unique_ptr<juce::StreamingSocket>> aloneConnection, connections;
    std::vector<std::shared_ptr<TransferSession>> alone, sessions;
    const auto one = serve (pacer, alonePeer, aloneConnection, alone, 1, 1);
    const auto three = serve (pacer, peers, connections, sessions, 3, 2);
    EXPECT_GE (one, 200.0) << "chunks less than 1 ms apart";
    EXPECT_LT (three, 1.5 * one) << "the mixers were held up by each other";
    ASSERT_TRUE (waitFor ([&] { return ended == 3; }, 5000));

    for (int i = 1; i < 3; ++i)
        EXPECT_EQ (sessions[(size_t) i]->isDelivered(), systemTellsAcknowledgements()) << "mixer " << i;

    EXPECT_EQ (sessions[0]->getStatus(), Update::sending);

    const auto asked = Clock::now();
    pacer.signalThreadShouldExit();
    pacer.notify();
    EXPECT_TRUE (pacer.waitForThreadToExit (2000));
    EXPECT_LT (millisecondsSince (asked), 1000.0);
    EXPECT_EQ (ended, 4);
    EXPECT_EQ (sessions[0]->getStatus(), Update::done);
    EXPECT_FALSE (sessions[0]->isDelivered());
}

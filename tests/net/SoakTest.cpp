#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Listener.h"
#include "net/Update.h"

using namespace nettest;

namespace
{
    int countEntries (const char* folder)
    {
        return juce::File (folder).getNumberOfChildFiles (juce::File::findFilesAndDirectories);
    }

    int openDescriptors() { return countEntries ("/proc/self/fd"); }
    int runningThreads() { return countEntries ("/proc/self/task"); }
}

// Many updates in a row, as a service bench would run them: every byte arrives in
// order, and nothing (sockets, files, threads) is left behind by any of them.
TEST (Soak, HundredTransfersBackToBackLoseNothingAndLeakNothing)
{
    ScratchFolder scratch;
    juce::Random random (7000);

    // Counted after the first round: runtimes (a sanitizer's, the C library's)
    // start helpers of their own with the first thread.
    int descriptorsBefore = -1, threadsBefore = -1;
    juce::int64 bytesTotal = 0;

    for (int round = 0; round <= 100; ++round)
    {
        if (round == 1)
        {
            descriptorsBefore = openDescriptors();
            threadsBefore = runningThreads();
        }

        SCOPED_TRACE (round);
        const auto size = (size_t) (7 + random.nextInt (24 * 1024));
        const auto image = updateImage (size);
        const auto file = scratch.write ("fw" + juce::String (round % 3) + ".upd", image);

        std::string stream;
        {
            Peer peer;
            Listener listener (0);
            listener.startThread();
            ASSERT_TRUE (listener.waitUntilListening (5000));
            ASSERT_TRUE (peer.connect (listener.getPort()));
            ASSERT_TRUE (waitFor ([&] { return listener.getStatus() == Listener::connected; }, 5000));

            auto connection = listener.takeConnection();
            ASSERT_NE (connection, nullptr);

            {
                Update update (*connection, file);
                update.startThread();
                ASSERT_TRUE (waitFor ([&] { return update.getStatus() != Update::sending; }, 10000));
                ASSERT_EQ (update.getStatus(), Update::done);
                ASSERT_EQ (update.getBytesSent(), (juce::int64) size);
            }

            connection.reset();
            ASSERT_TRUE (peer.readToEnd (stream, 5000));
        }

        ASSERT_EQ (stream.size(), size + 4);
        ASSERT_EQ (readBigEndian32 (stream), (std::uint32_t) size);
        ASSERT_TRUE (stream.compare (4, std::string::npos, image) == 0) << "bytes changed on the way";
        bytesTotal += (juce::int64) size;
    }

    EXPECT_GT (bytesTotal, 100 * 7);
    EXPECT_EQ (openDescriptors(), descriptorsBefore) << "sockets or files left open";

    // Joined threads may take a moment to leave the task list.
    EXPECT_TRUE (waitFor ([&] { return runningThreads() == threadsBefore; }, 2000))
        << runningThreads() << " threads, " << threadsBefore << " before";
}

#include <gtest/gtest.h>

#include <algorithm>

#include "NetTestSupport.h"
#include "net/Listener.h"
#include "net/Update.h"

#if defined (__linux__)
 #include <sys/stat.h>
#endif

using namespace nettest;

namespace
{
   #if defined (__linux__)
    int openDescriptors() { return juce::File ("/proc/self/fd").getNumberOfChildFiles (juce::File::findFilesAndDirectories); }
   #else
    int openDescriptors() { return 0; }
   #endif

    // Sparse where the file system allows: sizes beyond 4 GiB cost no disk.
    void setSize (const juce::File& file, juce::int64 size)
    {
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        ASSERT_TRUE (out.setPosition (size));
        ASSERT_TRUE (out.truncate().wasOk());
    }

    // A real accepted connection: the test's peer on one end, the connection the
    // listener hands over on the other.
    class UpdateTest : public ::testing::Test
    {
    protected:
        void SetUp() override { openLink(); }

        void TearDown() override
        {
            update.reset();
            connection.reset();
        }

        void openLink (int peerReceiveBuffer = 0)
        {
            update.reset();
            connection.reset();
            Listener listener (0);
            listener.startThread();
            ASSERT_TRUE (listener.waitUntilListening (5000));
            ASSERT_TRUE (peer.connect (listener.getPort(), peerReceiveBuffer));
            ASSERT_TRUE (waitFor ([&] { return listener.getStatus() == Listener::connected; }, 5000));
            connection = listener.takeConnection();
            ASSERT_NE (connection, nullptr);
        }

        void start (const juce::File& file)
        {
            update = std::make_unique<Update> (*connection, file);
            update->startThread();
        }

        int waitForEnd (int timeoutMs)
        {
            waitFor ([this] { return update->getStatus() != Update::sending; }, timeoutMs);
            return update->getStatus();
        }

        /** Ends our side, so that the peer can read everything up to the end. */
        std::string everythingReceived (std::string soFar = {})
        {
            update.reset();
            connection.reset();
            EXPECT_TRUE (peer.readToEnd (soFar, 5000));
            return soFar;
        }

        ScratchFolder scratch;
        Peer peer;
        std::unique_ptr<juce::StreamingSocket> connection;
        std::unique_ptr<Update> update;
    };
}

// One after another, as a service bench runs them: every byte arrives in
// order, no transfer leaves a socket or a file open behind it, and the mixer
// gets its pause of at least 1 ms after every chunk. The pause is judged by the
// median time between chunks as they arrive: a late read here and there
// shifts single gaps, not the median.
TEST_F (UpdateTest, StreamIsTheLengthThenTheFileUnchangedAtTheMixersPace)
{
    connection.reset();
    peer.close();
    const auto descriptorsBefore = openDescriptors();

    for (const size_t size : { 1025, 0, 1, 1023, 1024, 3 * 1024, 1024 * 1024 + 7 })
    {
        SCOPED_TRACE (size);
        openLink();

        const auto image = updateImage (size);
        start (scratch.write ("fw.upd", image));

        std::string stream;
        std::vector<double> gaps;
        auto last = Clock::now();

        for (size_t wanted = 4 + std::min<size_t> (size, 1024); wanted > 0 && stream.size() < size + 4;
             wanted = std::min<size_t> (size + 4 - stream.size(), 1024))
        {
            peer.read (stream, wanted, 5000);
            gaps.push_back (millisecondsSince (last));
            last = Clock::now();
        }

        ASSERT_EQ (waitForEnd (5000), Update::done);
        EXPECT_EQ (update->getBytesSent(), (juce::int64) size);
        EXPECT_EQ (update->getTotalBytes(), (juce::int64) size);

        if (gaps.size() > 100)
        {
            std::nth_element (gaps.begin() + 1, gaps.begin() + (long) gaps.size() / 2, gaps.end());
            EXPECT_GE (gaps[gaps.size() / 2], 1.0) << "chunks come less than 1 ms apart";
        }

        stream = everythingReceived (stream);
        ASSERT_EQ (stream.size(), size + 4);
        EXPECT_EQ (readBigEndian32 (stream), (std::uint32_t) size);
        EXPECT_TRUE (stream.substr (4) == image);
        peer.close();
    }

    EXPECT_EQ (openDescriptors(), descriptorsBefore) << "sockets or files left open";
}

TEST_F (UpdateTest, FilesThatCannotBeSentSendNothing)
{
    const auto folder = scratch.file ("folder.upd");
    ASSERT_TRUE (folder.createDirectory());
    const auto huge = scratch.write ("huge.upd", "QVR-7000");
    setSize (huge, 0x100000000LL);

    struct Case { juce::File file; int status; };
    std::vector<Case> cases { { scratch.file ("vanished.upd"), Update::fileMissing },
                              { folder, Update::fileMissing },
                              { huge, Update::sizeChanged } };
   #if defined (__linux__)
    const auto fifo = scratch.file ("fifo.upd");
    ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    cases.push_back ({ fifo, Update::fileMissing });
   #endif

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.file.getFileName());
        openLink();
        start (c.file);
        EXPECT_EQ (waitForEnd (2000), c.status);
        EXPECT_EQ (update->getTotalBytes(), 0);
        EXPECT_TRUE (everythingReceived().empty()) << "not even the length";
    }
}

TEST_F (UpdateTest, FileThatChangesSizeIsNotSentPastWhatWasAnnounced)
{
    for (const bool grows : { false, true })
    {
        SCOPED_TRACE (grows ? "grows" : "shrinks");
        openLink();

        const size_t size = grows ? 64 * 1024 : 1024 * 1024;
        const auto file = scratch.write ("fw.upd", updateImage (size));
        start (file);

        std::string stream;
        peer.read (stream, 4 + 10 * 1024, 5000);
        ASSERT_EQ (stream.size(), 4u + 10 * 1024);

        if (grows)
            ASSERT_TRUE (file.appendData ("more than announced", 19));
        else
            setSize (file, 20 * 1024);

        EXPECT_EQ (waitForEnd (10000), Update::sizeChanged);

        stream = everythingReceived (stream);
        EXPECT_EQ (readBigEndian32 (stream), (std::uint32_t) size);
        EXPECT_LE (stream.size() - 4, size);
        EXPECT_TRUE (stream.substr (4) == updateImage (size).substr (0, stream.size() - 4));
    }
}

TEST_F (UpdateTest, SendsThatFailEndWithTheirCode)
{
    // A peer that resets mid-stream; a SIGPIPE would end the whole test run here.
    start (scratch.write ("fw.upd", updateImage (1024 * 1024)));
    std::string stream;
    peer.read (stream, 4 + 8 * 1024, 5000);
    ASSERT_EQ (stream.size(), 4u + 8 * 1024);
    peer.reset();
    EXPECT_EQ (waitForEnd (5000), Update::chunkSendFailed);
    EXPECT_LT (update->getBytesSent(), 1024 * 1024);

    juce::StreamingSocket unconnected;
    Update lengthOnly (unconnected, scratch.write ("fw.upd", updateImage (100)));
    lengthOnly.startThread();
    EXPECT_TRUE (waitFor ([&] { return lengthOnly.getStatus() != Update::sending; }, 2000));
    EXPECT_EQ (lengthOnly.getStatus(), Update::lengthSendFailed);
}

// A stop ends the transfer as done (the workflow shows the cancel), also when
// the peer stopped reading and a send waits for room that never comes.
TEST_F (UpdateTest, StopEndsTheTransferPromptlyWhetherThePeerReadsOrNot)
{
    for (const bool stalled : { false, true })
    {
        SCOPED_TRACE (stalled ? "stalled peer" : "reading peer");
        openLink (stalled ? 4096 : 0);
        start (scratch.write ("fw.upd", updateImage (8 * 1024 * 1024)));

        if (stalled)
        {
            // Once the socket buffers are full the count stops moving: the send waits.
            juce::int64 last = -1;
            ASSERT_TRUE (waitFor ([&]
                                  {
                                      const auto now = update->getBytesSent();
                                      const bool still = now > 0 && now == last;
                                      last = now;
                                      juce::Thread::sleep (100);
                                      return still;
                                  },
                                  20000));
        }
        else
        {
            std::string stream;
            peer.read (stream, 4 + 4 * 1024, 5000);
        }

        EXPECT_EQ (update->getStatus(), Update::sending);
        const auto asked = Clock::now();
        update->signalThreadShouldExit();
        EXPECT_TRUE (update->waitForThreadToExit (5000));
        EXPECT_LT (millisecondsSince (asked), 1000.0);
        EXPECT_EQ (update->getStatus(), Update::done);
        EXPECT_LT (update->getBytesSent(), 8 * 1024 * 1024);
    }
}

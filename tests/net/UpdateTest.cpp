#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "NetTestSupport.h"
#include "net/Listener.h"
#include "net/Update.h"

using namespace nettest;

namespace
{
    std::string lengthPrefix (std::uint32_t n)
    {
        return { (char) (n >> 24), (char) (n >> 16), (char) (n >> 8), (char) n };
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

        bool waitForEnd (int timeoutMs)
        {
            return waitFor ([this] { return update->getStatus() != Update::sending; }, timeoutMs);
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

TEST_F (UpdateTest, StreamIsTheLengthThenTheFileUnchanged)
{
    for (const size_t size : { 0, 1, 1023, 1024, 1025, 3 * 1024 })
    {
        SCOPED_TRACE (size);

        if (connection == nullptr)
            openLink();

        const auto image = updateImage (size);
        start (scratch.write ("fw.upd", image));
        ASSERT_TRUE (waitForEnd (5000));
        EXPECT_EQ (update->getStatus(), Update::done);
        EXPECT_EQ (update->getBytesSent(), (juce::int64) size);
        EXPECT_EQ (update->getTotalBytes(), (juce::int64) size);

        const auto stream = everythingReceived();
        EXPECT_EQ (stream.size(), size + 4);
        EXPECT_EQ (readBigEndian32 (stream), (std::uint32_t) size);
        EXPECT_TRUE (stream.substr (4) == image);
        peer.close();
    }
}

TEST_F (UpdateTest, LargeFileKeepsTheChunkPace)
{
    const size_t size = 1024 * 1024 + 7;
    const auto image = updateImage (size);
    const auto file = scratch.write ("fw.upd", image);

    const auto started = Clock::now();
    start (file);

    std::string stream;
    peer.read (stream, size + 4, 20000);
    const auto elapsed = millisecondsSince (started);

    ASSERT_TRUE (waitForEnd (5000));
    EXPECT_EQ (update->getStatus(), Update::done);
    ASSERT_EQ (stream.size(), size + 4);
    EXPECT_EQ (stream.substr (0, 4), lengthPrefix ((std::uint32_t) size));
    EXPECT_TRUE (stream.substr (4) == image);

    // 1025 chunks, each followed by at least 1 ms; the last one's pause may still run.
    const auto chunks = (double) (size / 1024 + 1);
    EXPECT_GE (elapsed, chunks - 1.0);
    RecordProperty ("pacing_ratio", juce::String (elapsed / chunks, 4).toStdString());
}

TEST_F (UpdateTest, FileThatCannotBeOpenedSendsNothing)
{
    const auto folder = scratch.file ("folder.upd");
    ASSERT_TRUE (folder.createDirectory());
    const auto fifo = scratch.file ("fifo.upd");
    ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);

    for (const auto& file : { scratch.file ("vanished.upd"), folder, fifo })
    {
        SCOPED_TRACE (file.getFileName());

        if (connection == nullptr)
            openLink();

        start (file);
        ASSERT_TRUE (waitForEnd (2000));
        EXPECT_EQ (update->getStatus(), Update::fileMissing);
        EXPECT_EQ (update->getTotalBytes(), 0);
        EXPECT_TRUE (everythingReceived().empty()) << "not even the length";
        peer.close();
    }
}

TEST_F (UpdateTest, FileOf4GiBIsRefusedBeforeAnythingIsSent)
{
    const auto huge = scratch.write ("huge.upd", "QVR-7000");
    ASSERT_EQ (::truncate (huge.getFullPathName().toRawUTF8(), 0x100000000LL), 0);

    start (huge);
    ASSERT_TRUE (waitForEnd (2000));
    EXPECT_EQ (update->getStatus(), Update::sizeChanged);
    EXPECT_TRUE (everythingReceived().empty());
}

TEST_F (UpdateTest, FileThatChangesSizeIsNotSentPastWhatWasAnnounced)
{
    struct Case
    {
        const char* name;
        size_t size;
        std::function<void (const juce::File&)> change;
    };

    const Case cases[] = {
        { "shrinks", 1024 * 1024, [] (const juce::File& f) { ASSERT_EQ (::truncate (f.getFullPathName().toRawUTF8(), 20 * 1024), 0); } },
        { "grows", 64 * 1024, [] (const juce::File& f) { ASSERT_TRUE (f.appendData ("more than announced", 19)); } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        if (connection == nullptr)
            openLink();

        const auto file = scratch.write ("fw.upd", updateImage (c.size));
        start (file);

        std::string stream;
        peer.read (stream, 4 + 10 * 1024, 5000);
        ASSERT_EQ (stream.size(), 4u + 10 * 1024);
        c.change (file);

        ASSERT_TRUE (waitForEnd (10000));
        EXPECT_EQ (update->getStatus(), Update::sizeChanged);
        EXPECT_EQ (update->getTotalBytes(), (juce::int64) c.size);

        stream = everythingReceived (stream);
        EXPECT_EQ (readBigEndian32 (stream), (std::uint32_t) c.size);
        EXPECT_LE (stream.size() - 4, c.size);
        EXPECT_TRUE (stream.substr (4) == updateImage (c.size).substr (0, stream.size() - 4));
        peer.close();
    }
}

TEST_F (UpdateTest, PeerResetMidStreamFailsTheChunkWithoutSignal)
{
    start (scratch.write ("fw.upd", updateImage (1024 * 1024)));

    std::string stream;
    peer.read (stream, 4 + 8 * 1024, 5000);
    ASSERT_EQ (stream.size(), 4u + 8 * 1024);
    peer.reset();

    // A SIGPIPE would end the whole test run here.
    ASSERT_TRUE (waitForEnd (5000));
    EXPECT_EQ (update->getStatus(), Update::chunkSendFailed);
    EXPECT_LT (update->getBytesSent(), 1024 * 1024);
}

TEST_F (UpdateTest, LengthThatCannotBeSentFails)
{
    juce::StreamingSocket unconnected;
    update = std::make_unique<Update> (unconnected, scratch.write ("fw.upd", updateImage (100)));
    update->startThread();
    ASSERT_TRUE (waitForEnd (2000));
    EXPECT_EQ (update->getStatus(), Update::lengthSendFailed);
    EXPECT_EQ (update->getBytesSent(), 0);
}

TEST_F (UpdateTest, StopEndsTheTransferAsDoneBeforeTheEnd)
{
    start (scratch.write ("fw.upd", updateImage (1024 * 1024)));

    std::string stream;
    peer.read (stream, 4 + 4 * 1024, 5000);
    ASSERT_EQ (stream.size(), 4u + 4 * 1024);

    const auto started = Clock::now();
    update->signalThreadShouldExit();
    ASSERT_TRUE (update->waitForThreadToExit (2000));
    EXPECT_LT (millisecondsSince (started), 100.0);
    EXPECT_EQ (update->getStatus(), Update::done);
    EXPECT_LT (update->getBytesSent(), 1024 * 1024);
}

TEST_F (UpdateTest, StalledPeerDoesNotHoldUpTheStop)
{
    connection.reset();
    peer.close();
    openLink (4096);

    start (scratch.write ("fw.upd", updateImage (8 * 1024 * 1024)));

    // Once the socket buffers are full the count stops moving: the send blocks.
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
    EXPECT_EQ (update->getStatus(), Update::sending);

    const auto started = Clock::now();
    update.reset();
    EXPECT_LT (millisecondsSince (started), 1000.0);
}

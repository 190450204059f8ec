#include <gtest/gtest.h>


#include "NetTestSupport.h"
#include "net/Update.h"

using namespace nettest;

namespace
{
   #if defined (__linux__)
    int openDescriptors() { return juce::File ("/proc/self/fd").getNumberOfChildFiles (juce::File::findFilesAndDirectories); }
   #endif

    // The test's peer on one end of a loopback connection, the tool's side on the other.
    class UpdateTest : public ::testing::Test
    {
    protected:
        void openLink (int peerReceiveBuffer = 0)
        {
            update.reset();
            connection = peer.link (peerReceiveBuffer);
            ASSERT_NE (connection, nullptr);
        }

        void start (const juce::File& file, juce::int64 checkedSize = -1)
        {
            update = std::make_unique<Update> (*connection, file, checkedSize);
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
// order, and no transfer leaves a socket or a file open behind it.
TEST_F (UpdateTest, StreamIsTheLengthThenTheFileUnchanged)
{
   #if defined (__linux__)
    const auto descriptorsBefore = openDescriptors();
   #endif

    // The length field, and the digest of the file as sha256sum gives it.
    const struct { size_t size; const char* length; const char* sha256; } cases[] = {
        { 1025, "\0\0\x04\x01", "0cf4099cfda9a57cd86ad985aa050f550c9fea7bf0faaf9c12d5130f9b838bf9" },
        { 7, "\0\0\0\x07", "f720f658f9724af28f082a04ce84e9020677015bc020f2bcee1f126465521b19" },
        { 1023, "\0\0\x03\xff", "4f2f46f8016ef9b74570d5b90fb49fbc5066a8c3e8d70d11e608f1e245d0484d" },
        { 1024, "\0\0\x04\0", "e5168ae83c1225bcbe6c1441d614da0b5dcf6b877a04fc8de5d01b6d8d602f81" },
        { 3 * 1024, "\0\0\x0c\0", "657c0bf157e07f674f3d585549d2521e7b09eac919e91202a3f56b7b73f15d9a" },
        { 1024 * 1024 + 7, "\0\x10\0\x07", "342ddd8bdc37788d669b4d2a09a42f21bc6f571ef372bf3640003559c4e52725" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.size);
        openLink();

        const auto image = updateImage (c.size);
        start (scratch.write ("fw.upd", image));

        std::string stream;
        peer.read (stream, 4 + c.size, 10000);
        ASSERT_EQ (waitForEnd (5000), Update::done);
        EXPECT_EQ (update->getSentSha256(), c.sha256);

        stream = everythingReceived (stream);
        EXPECT_TRUE (stream == std::string (c.length, 4) + image) << "the length, then the file";
        peer.close();
    }

   #if defined (__linux__)
    EXPECT_EQ (openDescriptors(), descriptorsBefore) << "sockets or files left open";
   #endif
}

// A mixer that stops taking near the end, the tail unacknowledged in the buffers:
// no success yet, and a stop ends the wait at once (a reset: S3, end to end).
TEST_F (UpdateTest, TransferEndsWellOnlyOnceTheMixerTookEveryByte)
{
    if (! systemTellsAcknowledgements())
        GTEST_SKIP() << "this system does not tell what the mixer acknowledged";

    const size_t size = 300 * 1024, tail = 20 * 1024;
    openLink (8192);
    start (scratch.write ("fw.upd", updateImage (size)));

    std::string stream;
    ASSERT_TRUE (peer.read (stream, 4 + size - tail, 10000));
    ASSERT_EQ (stream.size(), 4 + size - tail);
    juce::Thread::sleep (300);
    EXPECT_EQ (update->getStatus(), Update::sending) << "finished with the tail still on its way";
    EXPECT_EQ (update->getBytesSent(), (juce::int64) size);
    EXPECT_LT (update->getBytesTaken(), (juce::int64) size);

    const auto asked = Clock::now();
    update->signalThreadShouldExit();
    EXPECT_EQ (waitForEnd (2000), Update::done);
    EXPECT_LT (millisecondsSince (asked), 1000.0);
    EXPECT_FALSE (update->isDelivered());
}

// The connect phase may take hours: a file replaced, cut or grown since it was
// checked is not sent, nor one that cannot be sent at all; not even its length.
TEST_F (UpdateTest, FilesThatCannotBeSentSendNothing)
{
    const juce::int64 checked = 64 * 1024;
    const auto huge = scratch.write ("huge.upd", "QVR-7000");
    ASSERT_TRUE (setSize (huge, 0x100000000LL));

    struct Case { juce::File file; juce::int64 checkedSize; int status; };
    const Case cases[] { { scratch.write ("foreign.upd", "QVR-6000" + updateImage (checked).substr (8)), checked, Update::fileMissing },
                              { scratch.write ("cut.upd", updateImage (checked / 2)), checked, Update::fileMissing },
                              { scratch.write ("grown.upd", updateImage (checked + 1)), checked, Update::fileMissing },
                              { scratch.file ("vanished.upd"), -1, Update::fileMissing },
                              { huge, -1, Update::sizeChanged } };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.file.getFileName());
        openLink();
        start (c.file, c.checkedSize);
        EXPECT_EQ (waitForEnd (2000), c.status);
        EXPECT_EQ (update->getTotalBytes(), 0);
        EXPECT_TRUE (everythingReceived().empty()) << "not even the length";
    }
}

// More than announced never goes out: the mixer counts on exactly the length.
TEST_F (UpdateTest, FileThatChangesSizeIsNotSentPastWhatWasAnnounced)
{
    // About a second at the pace: time enough for the change to land first.
    const size_t size = 1024 * 1024;

    for (const bool grows : { false, true })
    {
        SCOPED_TRACE (grows ? "grows" : "shrinks");
        openLink();
        const auto file = scratch.write ("fw.upd", updateImage (size));
        start (file);

        std::string stream;
        peer.read (stream, 4 + 10 * 1024, 5000);
        ASSERT_EQ (stream.size(), 4u + 10 * 1024);

        // By whole chunks, so that the reads past the announced end come back full.
        if (grows)
            ASSERT_TRUE (file.appendData (std::string (4096, 'x').data(), 4096));
        else
            ASSERT_TRUE (setSize (file, 20 * 1024));

        // Read on meanwhile, as the mixer does: a megabyte does not fit the socket buffers.
        for (int i = 0; i < 500 && update->getStatus() == Update::sending; ++i)
            peer.read (stream, 1u << 20, 20);

        EXPECT_EQ (update->getStatus(), Update::sizeChanged);
        stream = everythingReceived (stream);
        ASSERT_LE (stream.size(), 4 + size) << "sent more than announced";
        EXPECT_TRUE (stream == std::string ("\0\x10\0\0", 4) + updateImage (size).substr (0, stream.size() - 4));
    }
}

TEST_F (UpdateTest, SendsThatFailEndWithTheirCode)
{
    // A peer that resets mid-stream; a SIGPIPE would end the whole test run here.
    openLink();
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
    EXPECT_TRUE (waitFor ([&] { return lengthOnly.getStatus() == Update::lengthSendFailed; }, 2000));
}

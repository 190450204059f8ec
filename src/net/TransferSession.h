#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include <juce_core/juce_core.h>

#include "net/Sha256.h"
#include "platform/NetCalls.h"

class RegularFileReader;

/** One mixer's transfer, as a sequence of small steps that never block: check
    the file again on the handle it is sent from, send the length, then each
    chunk once the pause after the previous one has ended, then watch for the
    mixer's acknowledgement of the last byte. A socket that is full takes the
    rest of a chunk at a later step.

    A Pacer serves one or many of these from one thread; whoever makes a
    session owns it and its connection. The figures may be read on any thread.
*/
class TransferSession final
{
public:
    using Clock = std::chrono::steady_clock;

    /** checkedSize: the size the file had when it was checked, -1 for any. The
        connection must outlive the session.
    */
    TransferSession (juce::StreamingSocket& connection, juce::File file, juce::int64 checkedSize);
    ~TransferSession();

    /** When the session wants to be served next. */
    struct Next
    {
        enum class Kind
        {
            pacedAt,        // a chunk is due at `at`: serve it then, as exactly as possible
            lookAt,         // something to look at from `at` on; a little later does no harm
            whenRoom,       // the socket was full: try again soon
            finished
        };

        Kind kind = Kind::whenRoom;
        Clock::time_point at {};
    };

    /** Does whatever is due now and says when to come back. */
    Next serve();

    /** Ends a running session as stopped: status done, not delivered. */
    void stop();

    /** One of Update::Status. */
    int getStatus() const noexcept { return status.load(); }
    juce::int64 getBytesSent() const noexcept { return bytesSent.load(); }
    juce::int64 getBytesTaken() const noexcept { return bytesTaken.load(); }
    juce::int64 getTotalBytes() const noexcept { return totalBytes.load(); }
    bool isDelivered() const noexcept { return delivered.load(); }

    /** While the file goes out, how long the mixer has taken nothing; 0 before and after. */
    double getSecondsWithoutTaking() const noexcept;

    /** SHA-256 of the file's bytes that went out; read it once the session has finished. */
    juce::String getSentSha256() const { return sentHash.toHexString(); }

    juce::StreamingSocket& getConnection() const noexcept { return connection; }

private:
    enum class State
    {
        opening,
        sendingLength,
        sendingChunks,
        awaitingAcknowledgement,
        finished
    };

    Next open();
    Next sendLength();
    Next sendChunk();
    Next awaitAcknowledgement();
    Next finish (int finalStatus);
    void noteTaken (const netcalls::Acknowledgement& ack);

    juce::StreamingSocket& connection;
    const juce::File file;
    const juce::int64 checkedSize;
    std::unique_ptr<RegularFileReader> reader;

    State state = State::opening;
    int handle = -1;
    juce::int64 size = 0, sent = 0;
    char prefix[4] {};
    char chunk[1024] {};
    int chunkBytes = 0, chunkOffset = 0;
    Clock::time_point due {}, implausibleSince {};

    std::atomic<int> status { -1 };
    std::atomic<juce::int64> bytesSent { 0 }, bytesTaken { 0 }, totalBytes { 0 };
    std::atomic<bool> delivered { false };
    std::atomic<Clock::rep> lastTaken { 0 };   // when the taken count last grew; 0 while not sending
    Sha256 sentHash;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TransferSession)
};

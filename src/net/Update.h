#pragma once

#include <functional>
#include <memory>

#include <juce_core/juce_core.h>

#include "net/TransferSession.h"

/** Sends the update file over the accepted connection: its length as 4 bytes
    big-endian, then the bytes in chunks of up to 1024, with a pause of at least
    1 ms after each chunk (the mixer relies on that pace). It ends well only once
    the mixer's TCP has acknowledged every byte, where the system can tell.

    Owned by the workflow during the send phase; it never closes the connection.
*/
class Update final : public juce::Thread
{
public:
    enum Status
    {
        sending = -1,
        done = 0,
        fileMissing = 1,        // also a file that no longer passes the update file check
        lengthSendFailed = 2,
        chunkSendFailed = 3,    // also a peer that failed before it acknowledged the last byte
        sizeChanged = 4         // the file is 4 GiB or more, or it did not deliver the announced length
    };

    static constexpr int chunkSize = 1024;

    /** checkedSize: the size the update file had when it was checked; a file
        of another size is not sent. -1: whatever size it has.
    */
    explicit Update (juce::StreamingSocket& connection,
                     juce::File updateFile = {},    // empty: the product's update file
                     juce::int64 checkedSize = -1);

    /** Stops the transfer; within about 50 ms, also when the peer stopped reading. */
    ~Update() override;

    int getStatus() const noexcept { return session->getStatus(); }

    /** Bytes of the file handed to the connection so far (the length prefix not counted). */
    juce::int64 getBytesSent() const noexcept { return session->getBytesSent(); }

    /** Bytes of the file the mixer's TCP has acknowledged so far; where the
        system cannot tell, the bytes sent.
    */
    juce::int64 getBytesTaken() const noexcept { return session->getBytesTaken(); }

    /** The file's size as announced; 0 until the length has been sent. */
    juce::int64 getTotalBytes() const noexcept { return session->getTotalBytes(); }

    /** While the file goes out, how long the mixer has taken nothing. */
    double getSecondsWithoutTaking() const noexcept { return session->getSecondsWithoutTaking(); }

    /** True once the mixer has acknowledged every byte, as the system tells it. */
    bool isDelivered() const noexcept { return session->isDelivered(); }

    /** SHA-256 of the file's bytes that went out; read it once the thread has ended. */
    juce::String getSentSha256() const { return session->getSentSha256(); }

    /** Called on this object's thread once the status has left sending, so that
        a waiting owner can sleep until then instead of polling. Set before startThread.
    */
    std::function<void()> onFinished;

    void run() override;

private:
    const std::shared_ptr<TransferSession> session;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Update)
};

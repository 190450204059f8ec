#pragma once

#include <atomic>
#include <functional>

#include <juce_core/juce_core.h>

/** Sends the update file over the accepted connection: its length as 4 bytes
    big-endian, then the bytes in chunks of up to 1024, with a pause of at least
    1 ms after each chunk (the mixer relies on that pace).

    Owned by the workflow during the send phase; it never closes the connection.
*/
class Update final : public juce::Thread
{
public:
    enum Status
    {
        sending = -1,
        done = 0,
        fileMissing = 1,
        lengthSendFailed = 2,
        chunkSendFailed = 3,
        sizeChanged = 4     // the file is 4 GiB or more, or it did not deliver the announced length
    };

    static constexpr int chunkSize = 1024;

    explicit Update (juce::StreamingSocket& connection,
                     juce::File updateFile = {});   // empty: the product's update file

    /** Stops the transfer; within about 50 ms, also when the peer stopped reading. */
    ~Update() override;

    int getStatus() const noexcept { return status.load(); }

    /** Bytes of the file that have gone out so far (the length prefix not counted). */
    juce::int64 getBytesSent() const noexcept { return bytesSent.load(); }

    /** The file's size as announced; 0 until the length has been sent. */
    juce::int64 getTotalBytes() const noexcept { return totalBytes.load(); }

    /** Called on this object's thread once the status has left sending, so that
        a waiting owner can sleep until then instead of polling. Set before startThread.
    */
    std::function<void()> onFinished;

    void run() override;

private:
    juce::StreamingSocket& connection;
    const juce::File updateFile;
    std::atomic<int> status { sending };
    std::atomic<juce::int64> bytesSent { 0 }, totalBytes { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Update)
};

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <juce_events/juce_events.h>

/** Lets a later start of the tool ask the running copy to bring its window to
    the front and say whether it was started with the same update file. JUCE
    on Linux never passes a start on, and on Windows passes it on without the
    file and without an answer; a second start that said nothing would leave
    the user believing the running window sends the file they just chose.

    The running copy listens on a channel named for the application and the
    user (an abstract Unix socket; a named pipe on Windows). A start that finds
    the single-instance lock held sends "raise " and a description of its own
    update file; the running copy raises its window, then answers "same" or
    "other". Only a well-formed request of the same user counts; anything else
    is dropped unanswered.
*/
class RaiseRequests final : private juce::Thread
{
public:
    /** What a later start learned. */
    enum class Answer
    {
        noneRunning,    // the lock was free: this start is the only one
        sameFile,
        otherFile,
        noAnswer        // a copy runs, but did not answer in time
    };

    /** onRequest is called on the message thread once per request, until stop();
        the answer goes out only after it has run (or a bounded wait for it ended),
        so the asking start's own windows appear above whatever it raised.
    */
    RaiseRequests (std::string channelName, juce::File updateFile, std::function<void()> onRequest);

    /** Stops listening (see stop). */
    ~RaiseRequests() override;

    /** Starts listening; true once it listens, false when the name is taken or
        the channel cannot be made. Again once started does nothing and gives true.
    */
    bool start();

    /** Ends listening and joins the thread; requests not yet delivered are dropped.
        Call on the message thread.
    */
    void stop();

    /** The channel name for this application and the current user. */
    static std::string channelNameFor (const juce::String& applicationName);

    /** "<size> <SHA-256 in lower-case hex>" of a regular file, or "none" when no
        regular file can be read there. Stops early (and describes nothing useful)
        once shouldStop says so.
    */
    static std::string describeFile (const juce::File& file, const std::function<bool()>& shouldStop = {});

    /** Sends one request and waits at most timeoutMs for the answer. False when
        nobody took the request; otherwise answer holds what came back (empty for
        nothing, at most a few bytes).
    */
    static bool exchange (const std::string& channelName, const std::string& request,
                          int timeoutMs, std::string& answer);

    /** For a one-instance application, before JUCE takes its own lock: when another
        process holds that lock, asks it to raise its window and compares update
        files. Leaves the lock free for JUCE either way.
    */
    static Answer askRunningInstance (const juce::String& applicationName, const juce::File& updateFile);

private:
    struct Delivery
    {
        std::function<void()> onRequest;
        std::atomic<bool> live { true };
    };

    void run() override;

    /** The answer to one request as received, or empty to drop it. */
    std::string answerFor (const std::string& request);
    void deliverAndWait();

    const std::string name;
    const juce::File updateFile;
    const std::shared_ptr<Delivery> delivery;
    juce::pointer_sized_int listenHandle = -1;
    juce::pointer_sized_int wakeHandle = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RaiseRequests)
};

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <juce_events/juce_events.h>

#include "secondstart/LocalChannel.h"

/** What a second start and the copy of the tool that already runs say to
    each other. JUCE on Linux never passes a start on, and on Windows passes
    it on without the file and without an answer; a second start that said
    nothing would leave the user believing the running window sends the file
    they just chose.

    The running copy listens on a LocalChannel named for the application and
    the user. A start that finds JUCE's single-instance lock held asks
    "raise " and a description of its own update file; the running copy
    raises its window, then answers "same" or "other". Only a well-formed
    request counts; anything else is dropped unanswered.

    The application owns one from initialise to shutdown; a later start only
    calls ask().
*/
class RunningCopy final
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

    /** onRaise is called on the message thread once per request, until stop();
        the answer goes out only after it has run (or a bounded wait for it ended),
        so the asking start's own windows appear above whatever it raised.
    */
    RunningCopy (const juce::String& applicationName, juce::File updateFile, std::function<void()> onRaise);
    ~RunningCopy();

    /** Starts listening; false when another copy listens already or the channel cannot be made. */
    bool start();

    /** Ends listening; raises not yet delivered are dropped. Call on the message thread. */
    void stop();

    /** "<size> <SHA-256 in lower-case hex>" of a regular file, or "none" when no
        regular file can be read there to its end. Stops early (and describes
        nothing) once shouldStop says so.
    */
    static std::string describeFile (const juce::File& file, const std::function<bool()>& shouldStop = {});

    /** For a one-instance application, before JUCE takes its own lock: when another
        process holds that lock, asks it to raise its window and compares update
        files. Leaves the lock free for JUCE either way.
    */
    static Answer ask (const juce::String& applicationName, const juce::File& updateFile);

private:
    struct Delivery
    {
        std::function<void()> onRaise;
        std::atomic<bool> live { true };
    };

    /** The answer to one request as received, or empty to drop it. */
    std::string answerFor (const std::string& request, const std::function<bool()>& stopping) const;
    void deliverAndWait (const std::function<bool()>& stopping) const;

    const juce::File updateFile;
    const std::shared_ptr<Delivery> delivery;
    LocalChannel channel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RunningCopy)
};

#pragma once

#include <functional>
#include <string>

#include <juce_core/juce_core.h>

/** A channel between copies of the tool that one user runs on one machine:
    an abstract Unix socket (only the same user's requests are taken), or on
    Windows a named pipe (whose default security lets only its owner write;
    remote clients are refused). One side listens and answers each request on
    a thread of its own; the other sends one request and reads the answer.
    Requests and answers are a few bytes, each bounded in size and in time.

    The running copy owns one through its RunningCopy; the asking side only
    calls exchange().
*/
class LocalChannel final : private juce::Thread
{
public:
    /** Answers one request as it came, on the channel's thread; an empty
        answer drops the request unanswered. `stopping` turns true once the
        channel is being stopped, for an answer that takes its time.
    */
    using Answerer = std::function<std::string (const std::string& request, const std::function<bool()>& stopping)>;

    static constexpr size_t maxRequestBytes = 128;
    static constexpr size_t maxAnswerBytes = 16;

    LocalChannel (std::string name, Answerer answerer);

    /** Stops listening (see stop). */
    ~LocalChannel() override;

    /** Starts listening; true once it listens, false when the name is taken or
        the channel cannot be made. Again once started does nothing and gives true.
    */
    bool start();

    /** Ends listening and joins the thread: signal, wake, join. */
    void stop();

    /** The channel's name for this application and the current user. */
    static std::string nameFor (const juce::String& applicationName);

    /** Sends one request and waits at most timeoutMs for the answer. False when
        nobody took the request; otherwise answer holds what came back (empty for
        nothing, at most maxAnswerBytes).
    */
    static bool exchange (const std::string& name, const std::string& request, int timeoutMs, std::string& answer);

private:
    void run() override;

    const std::string name;
    const Answerer answerer;
    juce::pointer_sized_int listenHandle = -1;
    juce::pointer_sized_int wakeHandle = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LocalChannel)
};

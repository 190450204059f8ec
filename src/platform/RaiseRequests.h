#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <juce_events/juce_events.h>

/** Lets a later start of the tool ask the running copy to bring its window to
    the front, which JUCE on Linux never passes on by itself.

    The running copy listens on an abstract Unix socket named for the application
    and the user; a start that finds the single-instance lock held connects and
    says "raise". Only that exact word from a peer of the same user counts;
    anything else is dropped unanswered.
*/
class RaiseRequests final : private juce::Thread
{
public:
    /** onRequest is called on the message thread once per request, until stop(). */
    RaiseRequests (std::string socketName, std::function<void()> onRequest);

    /** Stops listening (see stop). */
    ~RaiseRequests() override;

    /** Binds and listens; true once it listens, false when the name is taken or
        the socket cannot be made. Again once started does nothing and gives true.
    */
    bool start();

    /** Ends listening and joins the thread; requests not yet delivered are dropped.
        Call on the message thread.
    */
    void stop();

    /** The socket name for this application and the current user. */
    static std::string socketNameFor (const juce::String& applicationName);

    /** Sends one request without ever waiting; true when a listener took it. */
    static bool send (const std::string& socketName);

    /** For a one-instance application, before JUCE takes its own lock: when that lock
        is held by another process, asks that process to raise its window.
        Leaves the lock free for JUCE either way.
    */
    static void askRunningInstance (const juce::String& applicationName);

private:
    struct Delivery
    {
        std::function<void()> onRequest;
        std::atomic<bool> live { true };
    };

    void run() override;
    bool isRequest (int connection);

    const std::string name;
    const std::shared_ptr<Delivery> delivery;
    int listenHandle = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RaiseRequests)
};

#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <juce_core/juce_core.h>

#include "net/TransferSession.h"

/** Serves transfer sessions from one thread, each at its own pace: a chunk
    goes out on a connection only once the pause after that connection's
    previous chunk has ended. Chunks that fall due together are sent in one
    wake-up, and a session that joins later is lined up with them, so the cost
    of waking and of the precise wait does not grow with the number of mixers;
    a mixer that stops reading holds up nobody but itself.

    The fleet of qvr-update owns one that it adds sessions to as mixers
    connect; the window's single transfer runs the same loop on its own thread
    (serve). Stopping ends every running session as stopped.
*/
class Pacer final : public juce::Thread
{
public:
    Pacer();

    /** Stops the thread; every session still running ends as stopped. */
    ~Pacer() override;

    /** May be called on any thread; the session must outlive the pacer's use of it
        (until onFinished has been called for it, or the pacer is gone).
    */
    void add (std::shared_ptr<TransferSession> session);

    /** Called on the pacer's thread as each session ends. Set before startThread. */
    std::function<void (TransferSession&)> onFinished;

    void run() override;

    /** The loop itself: serves the sessions until every one has ended, or until
        the thread is asked to exit (then the rest end as stopped). takeNew,
        when given, is asked for newcomers at each wake-up, and the loop then
        runs until the exit request even with nothing to serve.
    */
    static void serve (std::vector<std::shared_ptr<TransferSession>> sessions, juce::Thread& thread,
                       const std::function<void (TransferSession&)>& finished,
                       const std::function<void (std::vector<std::shared_ptr<TransferSession>>&)>& takeNew = {});

private:
    std::mutex pendingLock;
    std::vector<std::shared_ptr<TransferSession>> pending;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Pacer)
};

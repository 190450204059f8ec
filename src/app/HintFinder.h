#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <juce_core/juce_core.h>

#include "check/NetworkHint.h"

/** Runs the network check on a thread of its own while the window waits for
    the mixer, and keeps the hint it found for the screen to pick up. A look
    announces nothing and takes no connection; a cancel does not wait for it,
    so a mixer that connects is never held up by the check.

    Owned by the main component, which joins it only when it goes.
*/
class HintFinder final : private juce::Thread
{
public:
    using Check = std::function<std::vector<CheckFinding> (const std::function<bool()>& shouldStop)>;

    HintFinder (Check check, int port);

    /** Ends a look that still runs: it stops at its next look at the flag. */
    ~HintFinder() override;

    /** Starts a look, unless one runs. */
    void look();

    /** Asks a running look to end, without waiting for it; what it finds is dropped. */
    void cancel();

    bool isLooking() const { return isThreadRunning(); }

    /** The hint of the last look that ran to its end, once. */
    std::optional<NetworkHint> takeHint();

private:
    void run() override;

    const Check check;
    const int port;
    std::mutex lock;
    std::optional<NetworkHint> found;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HintFinder)
};

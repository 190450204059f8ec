#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include <juce_core/juce_core.h>

#include "net/WorkerSteps.h"

/** The update's steps in a row on a thread of their own, like the window's
    worker: each runs only when the one before succeeded, a stop request wins
    over whatever a step found, and the stage reached can be read meanwhile.

    Made by the command-line updater for one run.
*/
class StepRunner final : public juce::Thread
{
public:
    using Step = std::function<int (juce::Thread&)>;

    /** Each step with its stage (one of UpdateStage). */
    explicit StepRunner (std::vector<std::pair<int, Step>> steps);

    /** Stops the running step and joins. */
    ~StepRunner() override;

    /** Asks the running step to end, as the window's Cancel does. */
    void stop();

    /** The stage of the step that runs, or ran last; 0 before the first. */
    int getStage() const noexcept { return stage.load(); }

    /** The last step's outcome, -1 when stopped; valid once done is signalled. */
    int getResult() const noexcept { return result.load(); }

    juce::WaitableEvent done { true };

    void run() override;

private:
    const std::vector<std::pair<int, Step>> steps;
    std::atomic<int> stage { 0 }, result { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StepRunner)
};

#pragma once

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include <juce_core/juce_core.h>

/** The update's steps in a row on a thread of their own, like the window's
    worker: each runs only when the one before succeeded, a stop request wins
    over whatever a step found, and the stage reached can be read meanwhile.

    Made by the command-line updater for one run.
*/
class StepRunner final : public juce::Thread
{
public:
    /** The window's phase numbers, which also pick the letter of a code (I, C, S). */
    enum Stage
    {
        notStarted = 0,
        initialising = 1,
        connecting = 3,
        sending = 4
    };

    using Step = std::function<int (juce::Thread&)>;

    explicit StepRunner (std::vector<std::pair<Stage, Step>> steps);

    /** Stops the running step and joins. */
    ~StepRunner() override;

    /** Asks the running step to end, as the window's Cancel does. */
    void stop();

    int getStage() const noexcept { return stage.load(); }

    /** The last step's outcome, -1 when stopped; valid once done is signalled. */
    int getResult() const noexcept { return result.load(); }

    juce::WaitableEvent done { true };

    void run() override;

private:
    const std::vector<std::pair<Stage, Step>> steps;
    std::atomic<int> stage { notStarted }, result { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (StepRunner)
};

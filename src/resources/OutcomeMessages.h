#pragma once

#include <juce_core/juce_core.h>

/** Which text tells how a worker stage ended, so that the window's boxes and
    qvr-update's last line say the same. Stages are numbered as the window's
    phases (1 initialise, 3 connect, 4 send), which pick a code's letter (I, C, S).
*/
namespace outcomes
{
    /** The string id for a stage that ended with this result (-1 stopped,
        1..9 a failure), or 0 when there is no box to show.
    */
    constexpr int messageIdFor (int stage, int result) noexcept
    {
        const int cancelId = stage == 1 ? 11 : stage == 3 ? 12 : stage == 4 ? 13 : 0;
        const int failureBase = stage == 1 ? 13 : stage == 3 ? 22 : stage == 4 ? 31 : 0;

        if (cancelId == 0)
            return 0;

        if (result == -1)
            return cancelId;

        if (result >= 1 && result <= 9)
            return failureBase + result;

        return 0;
    }

    /** That text in the current language; for a success (0), the finished screen's words. */
    juce::String messageFor (int stage, int result);
}

#pragma once

#include <cstdint>

/** What the screen shows in one phase of the workflow: string ids of the title,
    the message and both captions, and which buttons are enabled.
*/
struct PhaseScreen
{
    std::int32_t titleId;
    std::int32_t messageId;
    std::int32_t firstButtonId;
    std::int32_t secondButtonId;
    bool firstEnabled;
    bool secondEnabled;
};

/** One record per phase 0..5. A phase runs a worker step exactly when its first
    button is disabled; the workflow starts and reports the worker by that flag,
    so this table and the steps must stay in step.
*/
inline constexpr PhaseScreen phaseScreens[] = {
    { 1, 6, 2, 4, true, true },     // choose language: OK / Cancel
    { 1, 0, 0, 0, false, false },   // initialise
    { 1, 7, 3, 5, true, true },     // confirm: START / EXIT
    { 1, 8, 3, 4, false, true },    // connect
    { 1, 9, 3, 4, false, true },    // send
    { 1, 10, 2, 4, true, false },   // finished: OK
};

inline constexpr int numPhaseScreens = (int) (sizeof (phaseScreens) / sizeof (phaseScreens[0]));

/** True for the phases whose work runs on the worker thread. */
constexpr bool isWorkerPhase (int phase) noexcept
{
    return phase >= 0 && phase < numPhaseScreens && ! phaseScreens[phase].firstEnabled;
}

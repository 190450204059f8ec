#pragma once

#include <atomic>

#include "cli/ConsoleUpdater.h"
#include "net/MixerFleet.h"

/** `qvr-update --mixers N` and `--mixer ADDRESS`: the road for a rack of
    mixers. Tells each mixer's arrival and end on a line of its own, one
    progress line that names the slowest, a summary per mixer, and an exit
    status for the whole run: 0 when every expected mixer took the whole file,
    6 when any transfer failed, 5 when fewer mixers came than expected.

    Made and run by the ConsoleUpdater, whose checked options and settings it uses.
*/
class FleetUpdater final
{
public:
    explicit FleetUpdater (const ConsoleUpdater& console);

    int run (const std::atomic<bool>& interruptRequested);

private:
    void tell (const MixerFleet::Event& event);
    void showProgress (ConsoleUpdater::ProgressLine& line);
    int finish (int stage, int result, double seconds);

    const ConsoleUpdater& console;
    const int expected;
    MixerFleet fleet;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FleetUpdater)
};

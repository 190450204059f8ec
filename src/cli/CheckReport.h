#pragma once

#include <vector>

#include "check/CheckFinding.h"

/** How qvr-update --check tells its findings: one line each, marked ✓, ! or
    ✗ with the fix after a dash, a closing line, and the exit status; or all
    of it as one line of JSON.
*/
namespace checkreport
{
    /** The exit status the findings call for: checksFailed when the update
        file (the first finding, when fileChecked) fails, somethingBlocks when
        any finding blocks the mixer, else 0.
    */
    int exitStatus (const std::vector<CheckFinding>& findings, bool fileChecked);

    /** One finding as a terminal shows it. */
    juce::String toText (const CheckFinding& finding);

    /** The lines (without those marked ✓ when quiet) and the closing line,
        which tells the exit status: what failed, what blocks, or an interrupt.
    */
    juce::String toLines (const std::vector<CheckFinding>& findings, int exitStatus, bool quiet);

    /** {"checks": [{"check", "status", "detail", "fix"}, ...], "exit": N} */
    juce::String toJson (const std::vector<CheckFinding>& findings, int exitStatus);
}

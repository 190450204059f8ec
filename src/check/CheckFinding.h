#pragma once

#include <juce_core/juce_core.h>

/** One finding of the network check: what was looked at, how it stands,
    what was seen, and for a warning or a block the one thing to do. Made by
    the check's looks (file, interfaces, ports, firewall); qvr-update --check
    prints them.
*/
struct CheckFinding
{
    enum Status
    {
        ok,
        warning,
        blocking,
        unchecked   // the system would not tell: `detail` says why
    };

    Status status = ok;
    juce::String check, detail, fix;
};

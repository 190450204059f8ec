#pragma once

#include <juce_core/juce_core.h>

/** One finding of qvr-update's network check: what was looked at, how it
    stands, what was seen, and for a warning or a block the one thing to do.
    Made by the system seams that look (interfaces, ports, firewall) and
    gathered into the checklist.
*/
struct CheckLine
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

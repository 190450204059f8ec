#pragma once

#include <vector>

#include "check/CheckFinding.h"

/** What the window says under its waiting message when no mixer comes: the
    finding of the network check that matters most, and the one thing to do,
    in the user's language (0 English, 1 Japanese), from a fixed text per kind
    with the names and numbers put in.

    Picked on the thread that ran the check; shown by the main screen.
*/
struct NetworkHint
{
    /** The first finding that keeps the mixer out, else the first worth a
        look that has a text of its own; where there is none, the general line.
    */
    static NetworkHint from (const std::vector<CheckFinding>& findings, int port);

    juce::String text (int language) const;

    bool operator== (const NetworkHint& other) const noexcept;
    bool operator!= (const NetworkHint& other) const noexcept { return ! operator== (other); }

    CheckFinding::Kind kind = CheckFinding::Kind::other;   // other: the general line
    CheckFinding::Status status = CheckFinding::ok;
    juce::String name, command;
    int port = 0;
};

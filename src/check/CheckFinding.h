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

    /** What the window tells of a finding, in the user's language (NetworkHint). */
    enum class Kind
    {
        other,                  // nothing the window tells apart
        noInterface,            // no IPv4 interface at all
        noReachableInterface,   // none where a mixer could hear the announcements
        interfaceDown,          // name: the interface
        tunnel,
        linkLocal,
        noBroadcast,
        portHeld,               // name: the program and its process id
        announcementsAstray,
        firewallBlocks,         // name: ufw, firewalld or nftables; fix: the command
        firewallOn,             // its rules are unreadable to this user, but it is on
        windowsFirewallBlocks,  // name: the network's kind (Public, Private, Domain)
        windowsFirewallAsks     // on, and no rule for this program yet
    };

    CheckFinding() = default;

    CheckFinding (Status s, juce::String checked, juce::String seen, juce::String toDo = {},
                  Kind k = Kind::other, juce::String named = {})
        : status (s), check (std::move (checked)), detail (std::move (seen)), fix (std::move (toDo)),
          kind (k), name (std::move (named))
    {
    }

    Status status = ok;
    juce::String check, detail, fix;
    Kind kind = Kind::other;
    juce::String name;

    /** The command a hint gives, where the fix's would not fit two lines of the window; empty: the fix. */
    juce::String command;
};

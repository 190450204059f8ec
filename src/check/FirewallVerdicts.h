#pragma once

#include <vector>

#include "check/CheckFinding.h"
#include "platform/NetworkInterfaces.h"

/** The answers of ufw, firewall-cmd and nft, as any program may ask for them,
    turned into lines of qvr-update's network check. These only read text: the
    asking is FirewallState's, so the verdicts can be tried on recorded answers.
    Every verdict is about a new TCP connection from the mixer to `port`.
*/
namespace firewallverdicts
{
    /** What one command said. */
    struct Answer
    {
        bool installed = true;
        int exitCode = 0;
        juce::String output;   // standard output and standard error, as they came
    };

    /** `ufw status verbose`, for each of the interfaces the update uses (no
        interface: one unnamed): a rule "on IFACE" holds there alone, and a
        source range that holds an interface's subnet lets every mixer there
        in. One line where they all come to the same, else one per verdict,
        naming its interfaces. enabledAtStart is ENABLED in /etc/ufw/ufw.conf,
        which anyone may read, while only root may ask ufw itself.
    */
    std::vector<CheckFinding> ufw (const Answer& status, bool enabledAtStart, bool profileInstalled,
                                   const std::vector<Ipv4Interface>& interfaces, int port);

    /** True when ufw's rules are in force, or may be and ufw would not say. */
    bool ufwMayBeOn (const Answer& status, bool enabledAtStart);

    /** `firewall-cmd --state`. */
    bool firewalldRuns (const Answer& state);

    /** firewalld, from `firewall-cmd --state`, `--get-default-zone` and
        `--list-all-zones`: one line per zone that the named interfaces are in
        (an interface no zone names is in the default zone).
    */
    std::vector<CheckFinding> firewalld (const Answer& state, const Answer& defaultZone, const Answer& zones,
                                      const juce::StringArray& interfaceNames, bool serviceInstalled, int port);

    /** `nft -j list ruleset`: whether every input hook lets the connection in
        on each of the named interfaces (an empty list: on an unnamed one).
    */
    CheckFinding nftables (const Answer& ruleset, const juce::StringArray& interfaceNames, int port);
}

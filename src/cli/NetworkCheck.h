#pragma once

#include <vector>

#include "cli/CommandLineOptions.h"
#include "net/MixerLink.h"
#include "platform/CheckLine.h"

/** `qvr-update --check [FILE]`: tells, before an update, what would keep the
    mixer from connecting and what to do about it - the file, the interfaces as
    the update would use them, the two ports and the firewall - without sending
    an announcement or accepting a connection.

    Made and run once by the command-line updater, with its settings (ports,
    interface source), so that tests can point it at loopback.
*/
class NetworkCheck final
{
public:
    NetworkCheck (const CommandLineOptions& options, const MixerLink::Settings& settings);

    /** Looks, prints the checklist (or its JSON), and returns the exit status. */
    int run();

    /** The interface lines: what each interface the update would announce on means for the mixer. */
    static std::vector<CheckLine> interfaceLines (const std::vector<Ipv4Interface>& interfaces);

    /** One line of the checklist as a terminal shows it. */
    static juce::String toText (const CheckLine& line);

    /** The checklist and the exit status as one line of JSON. */
    static juce::String toJson (const std::vector<CheckLine>& lines, int exitStatus);

private:
    CheckLine fileLine() const;
    void addPortLines (const std::vector<Ipv4Interface>& usable);

    const CommandLineOptions& options;
    const MixerLink::Settings& settings;
    std::vector<CheckLine> lines;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NetworkCheck)
};

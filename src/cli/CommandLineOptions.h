#pragma once

#include <juce_core/juce_core.h>

/** What the command line of qvr-update asks for. Parsing never prints and
    never ends the program: a usage error comes back as one line in `error`.
*/
struct CommandLineOptions
{
    juce::String file;
    juce::StringArray interfaces;   // names or IPv4 addresses; empty: every interface
    double timeoutSeconds = 0.0;    // 0: wait for the mixer until interrupted
    bool json = false, quiet = false, help = false, version = false;
    bool check = false;             // --check: look at what would stop the mixer, send nothing; FILE optional
    int mixers = 0;                 // --mixers N: serve N mixers in one run; 0: one, as the window does
    juce::StringArray mixerAddresses;   // --mixer ADDRESS: only these may connect; repeatable

    /** How many mixers the run serves: --mixers, else the --mixer addresses, else none (the one-mixer road). */
    int fleetSize() const noexcept { return mixers > 0 ? mixers : mixerAddresses.size(); }
    juce::String error;

    static CommandLineOptions parse (const juce::StringArray& arguments);

    /** The --help text. */
    static juce::String usage();
};

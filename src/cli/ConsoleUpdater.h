#pragma once

#include <atomic>

#include "cli/CommandLineOptions.h"
#include "net/MixerLink.h"

/** The whole update from a terminal, an SSH session or a script: the same
    checks, announcements, listener, transfer and outcome codes as the window,
    told as lines of text, and an exit status a script can act on.

    Made and run once by qvr-update's main().
*/
class ConsoleUpdater final
{
public:
    enum ExitStatus
    {
        sent = 0,
        usageError = 2,
        checksFailed = 3,       // the window's I codes
        connectFailed = 4,      // C codes
        noMixerInTime = 5,
        sendFailed = 6,         // S codes
        somethingBlocks = 7,    // --check found what will keep the mixer from connecting
        interrupted = 130
    };

    /** The settings' ports and interface source are the product's unless a caller says otherwise. */
    explicit ConsoleUpdater (CommandLineOptions options, MixerLink::Settings settings = {});

    /** Runs to the end; the flag (set by a signal handler) cancels like the window's Cancel. */
    int run (const std::atomic<bool>& interruptRequested);

private:
    int finish (int stage, int result, bool timedOut, const juce::String& mixer, double seconds);
    int refuse (const juce::String& problem, const juce::String& hint);

    /** Empty when the interfaces asked for exist; else what is wrong. */
    juce::String chooseInterfaces();

    /** The --json result: one object on one line, for scripts. */
    juce::String resultLine (const juce::String& outcome, const juce::String& message, int status,
                             const juce::String& mixer, double seconds, bool lookAtFile) const;
    void say (const juce::String& line);
    void complain (const juce::String& line);

    const CommandLineOptions options;
    MixerLink::Settings settings;
    const juce::File file;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConsoleUpdater)
};

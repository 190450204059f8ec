#pragma once

#include <atomic>

#include "cli/CommandLineOptions.h"
#include "cli/JsonLine.h"
#include "net/MixerLink.h"

/** The whole update from a terminal, an SSH session or a script: the same
    checks, announcements, listener, transfer and outcome codes as the window,
    told as lines of text, and an exit status a script can act on. Several
    mixers in one run go to the FleetUpdater, the check to the NetworkCheck.

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

    /** Why the file failed the check, in words; the I4 line follows it. */
    static juce::String describeFileProblem (const juce::File& file);

    /** The window's message for a step's outcome, in the language it would choose. */
    static juce::String outcomeMessage (int stage, int result);

private:
    friend class FleetUpdater;

    // Where nothing connects within this long, the cause is nearly always a
    // firewall or a mixer on another subnet: say so once.
    static constexpr double hintAfterSeconds = 20.0;
    static constexpr int lookIntervalMs = 50;
    static constexpr int progressIntervalMs = 250;

    /** The progress on a terminal (one line that rewrites itself) or in a log
        (a line at every tenth), always cleared to its full width.
    */
    class ProgressLine
    {
    public:
        explicit ProgressLine (const ConsoleUpdater& owner);
        void show (const SendProgress& progress, const juce::String& line);
        void end (const juce::String& line);

    private:
        const ConsoleUpdater& owner;
        const bool terminal;
        int width = 0, lastTenth = -1;
    };

    int finish (int stage, int result, bool timedOut, const MixerLink& link, double seconds);
    int refuse (const juce::String& problem, const juce::String& hint);

    /** Empty when the interfaces asked for exist; else what is wrong. */
    juce::String chooseInterfaces();

    void sayAnnouncing (const UpdateEnvironment& environment) const;
    static juce::String noMixerHint();
    static juce::String rate (const SendProgress& progress);

    /** The start of every --json result: the file and its size. */
    JsonLine fileFields() const;

    void say (const juce::String& line) const;
    void complain (const juce::String& line) const;

    const CommandLineOptions options;
    MixerLink::Settings settings;
    const juce::File file;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConsoleUpdater)
};

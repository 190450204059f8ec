#pragma once

#include <atomic>

#include "cli/CommandLineOptions.h"
#include "cli/JsonLine.h"
#include "net/MixerFleet.h"
#include "net/SendProgress.h"
#include "platform/Console.h"

/** The whole update from a terminal, an SSH session or a script: the same
    checks, announcements, listener, transfer and outcome codes as the window,
    told as lines of text, and an exit status a script can act on. One mixer
    or a rack of them (--mixers, --mixer) take the same road: a MixerFleet
    watched by one loop, told in the words of one mixer or of several.

    Made and run once by qvr-update's main().
*/
class ConsoleUpdater final
{
public:
    /** The settings' ports and interface source are the product's unless a caller says otherwise. */
    explicit ConsoleUpdater (CommandLineOptions options, MixerLinkSettings settings = {});

    /** Runs to the end; the flag (set by a signal handler) cancels like the window's Cancel. */
    int run (const std::atomic<bool>& interruptRequested);

private:
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

    /** What the run came to, for the last lines and the exit status. */
    struct Outcome
    {
        int status = 0;
        juce::String word;      // "sent", "I4", "C1", "S3", "failed", "timeout", "interrupted"
        juce::String message;   // the window's words, or how many mixers took the file
    };

    int update (const std::atomic<bool>& interruptRequested);
    int check (const std::atomic<bool>& interruptRequested);
    int refuse (const juce::String& problem, const juce::String& hint);

    /** Empty when the interfaces asked for exist; else what is wrong. */
    juce::String chooseInterfaces();

    void tell (const MixerFleet::Event& event, const MixerFleet& fleet) const;
    void showProgress (const std::vector<MixerFleet::MixerState>& mixers, ProgressLine& line) const;
    Outcome outcomeOf (int stage, int result, const MixerFleet& fleet) const;
    int finish (int stage, int result, const MixerFleet& fleet, double seconds);

    /** True when told in the words of several mixers (--mixers, --mixer). */
    bool several() const noexcept { return options.fleetSize() > 0; }

    /** The start of every --json result: the file and its size. */
    JsonLine fileFields() const;

    /** Where the text for people goes: with --json, standard output carries the result line alone. */
    console::Stream textStream() const noexcept { return options.json ? console::Stream::err : console::Stream::out; }

    void say (const juce::String& line) const;
    void complain (const juce::String& line) const;

    const CommandLineOptions options;
    MixerLinkSettings settings;
    const juce::File file;
    std::atomic<double> waitingSinceMs { 0.0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConsoleUpdater)
};

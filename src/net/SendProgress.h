#pragma once

#include <juce_core/juce_core.h>

/** How far the transfer has got, and how it reads on the progress bar and on
    the command line: numbers and units only, the same in every language.
    It counts what the mixer has taken (acknowledged), so 100 % means delivered.
*/
struct SendProgress
{
    juce::int64 taken = 0, total = 0;

    /** Since the send began; 0 before. */
    double seconds = 0.0;

    /** While sending, how long the mixer has taken nothing. */
    double secondsWithoutTaking = 0.0;

    /** True once the mixer has taken nothing for a few seconds: a time left
        would only grow by a second every second, so it waits instead.
    */
    bool isStalled() const noexcept { return secondsWithoutTaking >= 5.0; }

    /** 0..1; 0 while the length is not known yet. */
    double fraction() const noexcept { return total > 0 ? (double) taken / (double) total : 0.0; }

    /** Whole seconds still to go: at the pace measured so far once there is
        enough of it, before that at the mixer's pace of one chunk per millisecond.
    */
    juce::int64 secondsLeft() const noexcept;

    /** e.g. "42 %  6.7 / 16.0 MB"; the percentage reads 100 only once all is taken. */
    juce::String describeAmount() const;

    /** The amount and the time left, e.g. "42 %  6.7 / 16.0 MB  0:09". */
    juce::String describe() const;

    /** "950 B", "300 kB", "6.7 MB", "1.2 GB" (powers of 1000, as storage is sold). */
    static juce::String formatBytes (juce::int64 bytes);

    /** "0:09", "12:34", "1:09:54". */
    static juce::String formatDuration (juce::int64 seconds);
};

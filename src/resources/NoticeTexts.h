#pragma once

#include <juce_core/juce_core.h>

/** Texts that came after the string tables: those blocks stay as they are byte
    for byte, so these live in a small compiled-in table of their own, in the
    same languages (index 0 English, 1 Japanese).
*/
enum class NoticeText
{
    otherFileRunning,       // a later start with another update file than the running copy's
    runningCopySilent,      // a later start that could not learn which file the running copy has
    mixerTakesNothing       // on the progress bar, for a mixer that has taken nothing for a while: {seconds}
};

/** The text in that language; empty for a language out of range. */
juce::String getNoticeText (NoticeText text, int language);

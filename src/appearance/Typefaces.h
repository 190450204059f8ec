#pragma once

#include <juce_graphics/juce_graphics.h>

/** The typeface names of the text resource are those of the system the tool was
    first made for ("Arial", "MS UI Gothic"). Where a system lacks them, text in
    an unknown family is drawn with empty boxes, so each name is mapped to an
    installed font of the same kind.
*/
juce::String resolveTypefaceName (const juce::String& requested);

/** The process-wide typeface that fonts made without an explicit name use.
    Empty until the screen first sets it. Message thread only.
*/
juce::String getDefaultSansSerifName();

/** Changes the process-wide default; fonts made afterwards pick it up. */
void setDefaultSansSerifName (const juce::String& name);

/** Restores the default typeface when it goes out of scope. */
class ScopedDefaultSansSerifName final
{
public:
    explicit ScopedDefaultSansSerifName() : saved (getDefaultSansSerifName()) {}
    ~ScopedDefaultSansSerifName() { setDefaultSansSerifName (saved); }

private:
    const juce::String saved;

    JUCE_DECLARE_NON_COPYABLE (ScopedDefaultSansSerifName)
};

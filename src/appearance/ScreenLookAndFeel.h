#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The process's default look-and-feel while the main screen exists: the
    framework's light scheme (black text on light panels, as the screen is
    designed), and the typeface lookup that follows the screen's default
    typeface and maps resource font names to installed ones.

    Every font in the process is resolved through the default look-and-feel, so
    this is where labels, buttons, lists and message boxes all get their glyphs.
    Owned by the main component, which installs it as the default.
*/
class ScreenLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    ScreenLookAndFeel();
    ~ScreenLookAndFeel() override;

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font& font) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScreenLookAndFeel)
};

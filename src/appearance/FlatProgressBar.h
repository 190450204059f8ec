#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The send progress: a bar with the figures written over it, repainted only
    when the fraction or the text changes. JUCE's own bar repaints every 30 ms
    while it is visible, and for ever once it is full, so a finished screen
    left standing kept the process drawing.

    Drawn by its look-and-feel (BtnLookAndFeel on the main screen); screen
    readers get it as a read-only value that reads like the bar. Owned by the
    main component.
*/
class FlatProgressBar final : public juce::Component
{
public:
    /** What a look-and-feel implements to draw the bar. */
    struct LookAndFeelMethods
    {
        virtual ~LookAndFeelMethods() = default;

        virtual void drawFlatProgressBar (juce::Graphics& g, juce::Component& bar, int width, int height,
                                          double progress, const juce::String& text) = 0;
    };

    FlatProgressBar();
    ~FlatProgressBar() override;

    /** fraction 0..1 and the text shown over it; repaints only when either changes. */
    void setProgress (double fraction, const juce::String& text);

    double getProgress() const noexcept { return progress; }
    const juce::String& getText() const noexcept { return text; }

    void paint (juce::Graphics& g) override;
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    double progress = 0.0;
    juce::String text;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FlatProgressBar)
};

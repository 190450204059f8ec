#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The main screen's push button. Its look-and-feel paints the panel; the
    caption is drawn here, in a typeface the owner names, so that each language
    shows in its own font whatever the process default is.
    Owned by the main component.
*/
class AlineButton final : public juce::Button
{
public:
    explicit AlineButton (const juce::String& componentName);
    ~AlineButton() override;

    /** Takes effect at the next repaint. */
    void setFontName (const juce::String& newFontName);

    /** juce::Font style flags; takes effect at the next repaint. */
    void setFontStyle (const int& newStyleFlags);

    /** Changes the caption if it differs, and repaints either way. */
    void setTextAndRepaint (const juce::String& newText);

    const juce::String& getFontName() const noexcept { return fontName; }
    int getFontStyle() const noexcept { return fontStyleFlags; }

    /** The caption font for the button's present height. */
    juce::Font getCaptionFont() const;

    /** The caption colour for the button's present enablement. */
    juce::Colour getCaptionColour() const;

protected:
    void paintButton (juce::Graphics& g, bool isMouseOver, bool isButtonDown) override;

private:
    const juce::Justification justification { juce::Justification::centred };
    juce::String fontName;
    int fontStyleFlags = juce::Font::plain;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlineButton)
};

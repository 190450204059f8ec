#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "appearance/FlatProgressBar.h"

/** Flat buttons: one colour with a darker outline instead of the framework's
    gradient, and a dark square line inside the one that has the keyboard
    focus; and the progress bar in the same style, square, filled with the
    pressed button's shade. Set on both buttons and the progress bar of the
    main screen, which owns it.
*/
class BtnLookAndFeel final : public juce::LookAndFeel_V4,
                             public FlatProgressBar::LookAndFeelMethods
{
public:
    BtnLookAndFeel();
    ~BtnLookAndFeel() override;

    void drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                               bool isMouseOverButton, bool isButtonDown) override;

    void drawFlatProgressBar (juce::Graphics& g, juce::Component& bar, int width, int height,
                              double progress, const juce::String& text) override;

    /** Outline thickness for a button's state. */
    static float getOutlineThickness (bool isEnabled, bool isMouseOver, bool isButtonDown) noexcept;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BtnLookAndFeel)
};

/** The panel colour for a button's state: a touch less saturated at rest (more
    while focused), laid over with black or white while hovered or pressed.
*/
juce::Colour getButtonBaseColour (juce::Colour backgroundColour, bool hasKeyboardFocus,
                                  bool isMouseOverButton, bool isButtonDown);

/** Fills and outlines a rectangle whose corners are quarter circles except where
    a side is flat; a negative corner size rounds the short sides completely.
*/
void drawFlatButtonShape (juce::Graphics& g, float x, float y, float width, float height,
                          juce::Colour colour, float outlineThickness, float cornerSize,
                          bool flatOnLeft, bool flatOnRight, bool flatOnTop, bool flatOnBottom);

/** The keyboard focus mark of the screen's flat controls: a dark square line
    just inside the control's edge, plain enough to match and plain to see.
*/
void drawFocusRing (juce::Graphics& g, juce::Rectangle<int> controlBounds);

#include "appearance/AlineButton.h"

#include "appearance/Typefaces.h"

AlineButton::AlineButton (const juce::String& componentName)
    : juce::Button (componentName)
{
    // A copy of the default's name, not the placeholder, so that a later change
    // of the default leaves this caption alone until the owner names another.
    fontName = getDefaultSansSerifName();

    if (fontName.isEmpty())
        fontName = juce::Font::getDefaultSansSerifFontName();
}

AlineButton::~AlineButton() = default;

void AlineButton::setFontName (const juce::String& newFontName)
{
    fontName = newFontName;
}

void AlineButton::setFontStyle (const int& newStyleFlags)
{
    fontStyleFlags = newStyleFlags;
}

void AlineButton::setTextAndRepaint (const juce::String& newText)
{
    if (newText == getButtonText())
        repaint();
    else
        setButtonText (newText);
}

juce::Font AlineButton::getCaptionFont() const
{
    return juce::Font (fontName, juce::jmin (15.0f, (float) getHeight() * 0.6f), fontStyleFlags);
}

juce::Colour AlineButton::getCaptionColour() const
{
    return juce::Colours::black.withAlpha (isEnabled() ? 1.0f : 0.4f);
}

void AlineButton::paintButton (juce::Graphics& g, bool isMouseOver, bool isButtonDown)
{
    const auto background = findColour (getToggleState() ? juce::TextButton::buttonOnColourId
                                                          : juce::TextButton::buttonColourId);

    getLookAndFeel().drawButtonBackground (g, *this, background, isMouseOver, isButtonDown);

    g.setFont (getCaptionFont());
    g.setColour (getCaptionColour());
    g.drawFittedText (getButtonText(), 4, 4, getWidth() - 8, getHeight() - 8, justification, 1, 0.7f);
}

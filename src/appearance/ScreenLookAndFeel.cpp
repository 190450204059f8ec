#include "appearance/ScreenLookAndFeel.h"

#include "appearance/Typefaces.h"

ScreenLookAndFeel::ScreenLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::getLightColourScheme())
{
}

ScreenLookAndFeel::~ScreenLookAndFeel() = default;

juce::Typeface::Ptr ScreenLookAndFeel::getTypefaceForFont (const juce::Font& font)
{
    auto name = font.getTypefaceName();

    if (name == juce::Font::getDefaultSansSerifFontName() && getDefaultSansSerifName().isNotEmpty())
        name = getDefaultSansSerifName();

    juce::Font resolved (font);
    resolved.setTypefaceName (resolveTypefaceName (name));
    return juce::Font::getDefaultTypefaceForFont (resolved);
}

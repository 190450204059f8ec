#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/AlineButton.h"
#include "appearance/BtnLookAndFeel.h"

using namespace appearancetest;

TEST (AlineButton, CaptionFontGrowsWithHeightUpToFifteenPoints)
{
    AlineButton button ("b");
    button.setFontName ("Arial");
    button.setFontStyle (juce::Font::bold);

    const struct { int height; float fontHeight; } cases[] = { { 24, 14.4f }, { 20, 12.0f }, { 25, 15.0f }, { 60, 15.0f } };

    for (const auto& c : cases)
    {
        button.setSize (120, c.height);
        const auto font = button.getCaptionFont();
        EXPECT_FLOAT_EQ (font.getHeight(), c.fontHeight) << c.height;
        EXPECT_EQ (font.getTypefaceName(), "Arial");
        EXPECT_TRUE (font.isBold());
    }
}

TEST (AlineButton, CaptionIsBlackAndFadesWhenDisabled)
{
    AlineButton button ("b");
    EXPECT_EQ (button.getCaptionColour(), juce::Colours::black);

    button.setEnabled (false);
    EXPECT_EQ (button.getCaptionColour().withAlpha (1.0f), juce::Colours::black);
    EXPECT_NEAR (button.getCaptionColour().getFloatAlpha(), 0.4f, 0.01f);
}

TEST (AlineButton, PaintsItsCaptionCentredOnTheFlatPanel)
{
    BtnLookAndFeel lookAndFeel;
    AlineButton button ("b");
    button.setLookAndFeel (&lookAndFeel);
    button.setColour (juce::TextButton::buttonColourId, juce::Colour (0xffefebde));
    button.setBounds (0, 0, 120, 24);

    button.setTextAndRepaint ("START");
    EXPECT_EQ (button.getButtonText(), "START");
    const auto enabled = button.createComponentSnapshot (button.getLocalBounds(), false, 1.0f);

    // Ink in the middle third (the caption), none near the rounded ends.
    const auto panel = enabled.getPixelAt (10, 12);
    EXPECT_GT (countInk (enabled, { 40, 4, 40, 16 }, panel), 20);
    EXPECT_EQ (countInk (enabled, { 14, 4, 16, 16 }, panel), 0);
    EXPECT_EQ (countInk (enabled, { 90, 4, 16, 16 }, panel), 0);

    button.setEnabled (false);
    const auto disabled = button.createComponentSnapshot (button.getLocalBounds(), false, 1.0f);
    EXPECT_LT (countInk (disabled, { 40, 4, 40, 16 }, disabled.getPixelAt (10, 12)),
               countInk (enabled, { 40, 4, 40, 16 }, panel));

    button.setLookAndFeel (nullptr);
}

#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/AlineButton.h"
#include "appearance/BtnLookAndFeel.h"

using namespace appearancetest;

TEST (AlineButton, FlatOutlinedPanelWithItsCaptionCentredAndBothFadedWhenDisabled)
{
    BtnLookAndFeel lookAndFeel;
    AlineButton button ("b");
    button.setLookAndFeel (&lookAndFeel);
    button.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff4080c0));
    button.setConnectedEdges (15);
    button.setBounds (0, 0, 120, 24);
    button.setTextAndRepaint ("START");
    const auto enabled = button.createComponentSnapshot (button.getLocalBounds(), false, 1.0f);

    const auto panel = enabled.getPixelAt (10, 12);
    EXPECT_EQ (panel.getAlpha(), 255);
    EXPECT_LT (enabled.getPixelAt (10, 0).getBrightness(), panel.getBrightness() - 0.05f) << "no darker outline";
    EXPECT_GT (enabled.getPixelAt (0, 0).getAlpha(), 200) << "a square button has its corners";

    // Ink in the middle third (the caption), none towards the ends.
    EXPECT_GT (countInk (enabled, { 40, 4, 40, 16 }, panel), 20);
    EXPECT_EQ (countInk (enabled, { 14, 4, 16, 16 }, panel), 0);
    EXPECT_EQ (countInk (enabled, { 90, 4, 16, 16 }, panel), 0);

    button.setEnabled (false);
    const auto disabled = button.createComponentSnapshot (button.getLocalBounds(), false, 1.0f);
    EXPECT_NEAR (disabled.getPixelAt (10, 12).getAlpha(), 128, 2);
    EXPECT_LT (countInk (disabled, { 40, 4, 40, 16 }, disabled.getPixelAt (10, 12)), countInk (enabled, { 40, 4, 40, 16 }, panel));

    button.setLookAndFeel (nullptr);
}

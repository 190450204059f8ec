#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/BtnLookAndFeel.h"

using namespace appearancetest;

namespace
{
int brightness (juce::Colour c) { return c.getRed() + c.getGreen() + c.getBlue(); }
} // namespace

TEST (BtnLookAndFeel, ProgressBarIsSquareFilledToItsFractionAndCarriesItsText)
{
    BtnLookAndFeel lookAndFeel;
    FlatProgressBar bar;
    const juce::Colour panel (0xffefebde);
    bar.setColour (juce::ProgressBar::backgroundColourId, panel);

    juce::Image image (juce::Image::RGB, 190, 24, true);
    {
        juce::Graphics g (image);
        g.fillAll (juce::Colours::white);
        lookAndFeel.drawFlatProgressBar (g, bar, 190, 24, 0.25, "25 %");
    }

    EXPECT_NE (image.getPixelAt (0, 0), juce::Colours::white) << "rounded corner";
    EXPECT_LT (brightness (image.getPixelAt (20, 20)), brightness (panel)) << "the done part is not darker";
    EXPECT_EQ (image.getPixelAt (170, 20), panel);
    EXPECT_GT (countInk (image, { 70, 4, 50, 16 }, panel), 20) << "no text in the middle";
}

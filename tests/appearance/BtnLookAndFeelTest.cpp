#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/BtnLookAndFeel.h"

using namespace appearancetest;

namespace
{
int brightness (juce::Colour c) { return c.getRed() + c.getGreen() + c.getBlue(); }
} // namespace

TEST (BtnLookAndFeel, HoverAndPressDarkenLightPanelsAndLightenDarkOnes)
{
    const juce::Colour panel (0xffefebde), navy (0xff000040);
    EXPECT_LT (brightness (getButtonBaseColour (panel, false, true, false)), brightness (getButtonBaseColour (panel, false, false, false)));
    EXPECT_LT (brightness (getButtonBaseColour (panel, false, true, true)), brightness (getButtonBaseColour (panel, false, true, false)));
    EXPECT_GT (brightness (getButtonBaseColour (navy, false, true, false)), brightness (getButtonBaseColour (navy, false, false, false)));
}

TEST (BtnLookAndFeel, ButtonsAreFlatOutlinedAndHalfTransparentWhenDisabled)
{
    BtnLookAndFeel lookAndFeel;
    juce::TextButton button ("b");
    button.setConnectedEdges (15);
    button.setBounds (0, 0, 60, 24);
    const juce::Colour fill (0xff4080c0);

    auto draw = [&]
    {
        juce::Image image (juce::Image::ARGB, 60, 24, true);
        juce::Graphics g (image);
        lookAndFeel.drawButtonBackground (g, button, fill, false, false);
        return image;
    };

    const auto drawn = draw();
    EXPECT_EQ (drawn.getPixelAt (30, 12).getAlpha(), 255);
    EXPECT_LT (brightness (drawn.getPixelAt (30, 0)), brightness (drawn.getPixelAt (30, 12))) << "no darker outline";
    EXPECT_GT (drawn.getPixelAt (0, 0).getAlpha(), 200) << "a square button has its corners";

    button.setEnabled (false);
    EXPECT_NEAR (draw().getPixelAt (30, 12).getAlpha(), 128, 2);
}

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

#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/BtnLookAndFeel.h"

using namespace appearancetest;

namespace
{
int brightness (juce::Colour c) { return c.getRed() + c.getGreen() + c.getBlue(); }

juce::Image drawShape (juce::Colour colour, bool flat)
{
    juce::Image image (juce::Image::ARGB, 60, 24, true);
    juce::Graphics g (image);
    drawFlatButtonShape (g, 0.5f, 0.5f, 59.0f, 23.0f, colour, 1.0f, -1.0f, flat, flat, flat, flat);
    return image;
}
} // namespace

TEST (BtnLookAndFeel, HoverAndPressDarkenLightPanelsAndLightenDarkOnes)
{
    const juce::Colour panel (0xffefebde);
    const auto rest = getButtonBaseColour (panel, false, false, false);
    const auto hover = getButtonBaseColour (panel, false, true, false);
    const auto down = getButtonBaseColour (panel, false, true, true);

    EXPECT_LT (rest.getSaturation(), panel.getSaturation());
    EXPECT_GT (getButtonBaseColour (panel, true, false, false).getSaturation(), panel.getSaturation());
    EXPECT_LT (brightness (hover), brightness (rest));
    EXPECT_LT (brightness (down), brightness (hover));

    const juce::Colour navy (0xff000040);
    EXPECT_GT (brightness (getButtonBaseColour (navy, false, true, false)), brightness (getButtonBaseColour (navy, false, false, false)));

    // The turn between darkening and lightening lies at a channel sum of 384.
    const juce::Colour grey128 (128, 128, 128), grey127 (127, 128, 128);
    EXPECT_LT (brightness (getButtonBaseColour (grey128, false, true, false)), brightness (grey128));
    EXPECT_GT (brightness (getButtonBaseColour (grey127, false, true, false)), brightness (grey127));
}

TEST (BtnLookAndFeel, ShapeIsFilledOutlinedAndRoundedOnlyWhereNotFlat)
{
    const juce::Colour fill (0xff4080c0);
    const auto rounded = drawShape (fill, false);
    const auto square = drawShape (fill, true);

    EXPECT_EQ (rounded.getPixelAt (30, 12), fill);
    EXPECT_EQ (square.getPixelAt (30, 12), fill);

    // The outline is darker than the fill.
    EXPECT_LT (brightness (square.getPixelAt (30, 0)), brightness (fill));
    EXPECT_GT (square.getPixelAt (30, 0).getAlpha(), 128);

    // Round ends leave the corners empty; flat sides fill them.
    EXPECT_EQ (rounded.getPixelAt (1, 1).getAlpha(), 0);
    EXPECT_EQ (rounded.getPixelAt (58, 22).getAlpha(), 0);
    EXPECT_GT (square.getPixelAt (1, 1).getAlpha(), 200);
    EXPECT_GT (square.getPixelAt (58, 22).getAlpha(), 200);

    // Too small for its outline: nothing drawn.
    juce::Image tiny (juce::Image::ARGB, 4, 4, true);
    {
        juce::Graphics g (tiny);
        drawFlatButtonShape (g, 0, 0, 1.0f, 4.0f, fill, 1.0f, -1.0f, false, false, false, false);
    }
    EXPECT_EQ (countInk (tiny, tiny.getBounds(), juce::Colours::transparentBlack), 0);
    EXPECT_EQ (tiny.getPixelAt (0, 2).getAlpha(), 0);
}

TEST (BtnLookAndFeel, DisabledButtonIsPaintedHalfTransparent)
{
    BtnLookAndFeel lookAndFeel;
    juce::TextButton button ("b");
    button.setBounds (0, 0, 60, 24);
    const juce::Colour fill (0xff4080c0);

    auto draw = [&]
    {
        juce::Image image (juce::Image::ARGB, 60, 24, true);
        juce::Graphics g (image);
        lookAndFeel.drawButtonBackground (g, button, fill, false, false);
        return image.getPixelAt (30, 12);
    };

    EXPECT_EQ (draw().getAlpha(), 255);
    button.setEnabled (false);
    EXPECT_NEAR (draw().getAlpha(), 128, 2);
}

#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/LangLookAndFeel.h"
#include "appearance/ScreenLookAndFeel.h"
#include "appearance/Typefaces.h"
#include "support/TestLanguageSource.h"

using namespace appearancetest;

namespace
{
juce::Image drawItem (juce::LookAndFeel& lookAndFeel, const juce::String& text, bool highlighted)
{
    juce::Image image (juce::Image::RGB, 190, 24, true);
    juce::Graphics g (image);
    g.fillAll (juce::Colours::white);
    lookAndFeel.drawPopupMenuItem (g, image.getBounds(), false, true, highlighted, false, false, text, {}, nullptr, nullptr);
    return image;
}
} // namespace

TEST (LangLookAndFeel, EachLanguageNameIsDrawnInItsOwnFontAndHighlightedOnNavy)
{
    freshTxtLoader (0x0409, { "00000411" });
    ScreenLookAndFeel screen;
    juce::LookAndFeel::setDefaultLookAndFeel (&screen);
    const ScopedDefaultSansSerifName restore;
    LangLookAndFeel lang;

    // By the item's exact name, case aside; anything else keeps the default.
    setDefaultSansSerifName ("No Such Family");
    const std::pair<const char*, const char*> fonts[] = {
        { "English", "Arial" }, { "ENGLISH", "Arial" }, { "日本語", "MS UI Gothic" }, { "日本", "No Such Family" }
    };

    for (auto [item, font] : fonts)
        EXPECT_EQ (LangLookAndFeel::getTypefaceNameForItem (juce::String::fromUTF8 (item)), font) << item;

    setDefaultSansSerifName ("Arial");

    // The Japanese name drawn by this look differs from the same name in the Latin default...
    const auto japaneseName = juce::String::fromUTF8 ("日本語");
    juce::LookAndFeel_V4 plain (juce::LookAndFeel_V4::getLightColourScheme());
    const auto ours = drawItem (lang, japaneseName, false);
    EXPECT_FALSE (sameImage (ours, drawItem (plain, japaneseName, false)));
    EXPECT_GT (countInk (ours, ours.getBounds(), juce::Colours::white), 30);

    // ...and the default typeface is back once the item is drawn.
    EXPECT_EQ (getDefaultSansSerifName(), "Arial");

    // A highlighted item sits on dark navy.
    const auto highlighted = drawItem (lang, "English", true);
    EXPECT_EQ (highlighted.getPixelAt (2, 2), juce::Colour (LangLookAndFeel::highlightColour));
    EXPECT_EQ (highlighted.getPixelAt (188, 22), juce::Colour (LangLookAndFeel::highlightColour));
    EXPECT_EQ (highlighted.getPixelAt (0, 0), juce::Colours::white);

    const auto normal = drawItem (lang, "English", false);
    EXPECT_EQ (normal.getPixelAt (2, 2), juce::Colours::white);
    EXPECT_GT (countInk (normal, normal.getBounds(), juce::Colours::white), 20);

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    TxtLoader::deleteInstance();
    TxtLoader::setLanguageSource (nullptr);
}

#include <vector>

#include <gtest/gtest.h>

#include "AppearanceTestSupport.h"
#include "appearance/Typefaces.h"

using namespace appearancetest;

namespace
{
// Real glyphs: every character leaves ink, and no two characters look alike. A
// font lacking the script draws the same "missing" box (or nothing) for each.
bool hasGlyphsFor (const juce::String& typefaceName, const juce::String& distinctCharacters)
{
    const juce::Font font (typefaceName, 20.0f, juce::Font::plain);
    std::vector<juce::Image> drawn;

    for (auto c : distinctCharacters)
    {
        auto image = renderText (juce::String::charToString (c), font);

        if (countInk (image, image.getBounds(), juce::Colours::white) < 4)
            return false;

        for (const auto& other : drawn)
            if (sameImage (image, other))
                return false;

        drawn.push_back (image);
    }

    return true;
}

const juce::String japanese = juce::CharPointer_UTF8 ("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xa7\xe3\x81\x99");
} // namespace

TEST (Typefaces, ResourceFontNamesResolveToInstalledFontsWithTheirScriptsGlyphs)
{
    const auto installed = juce::Font::findAllTypefaceNames();

    const auto latin = resolveTypefaceName ("Arial");
    EXPECT_TRUE (installed.contains (latin)) << latin;
    EXPECT_TRUE (hasGlyphsFor (latin, "CanotfidUpF_I4"));
    EXPECT_FALSE (hasGlyphsFor (latin, japanese)) << "the Latin font has no kana: the glyph check sees nothing";

    for (auto* name : { "MS UI Gothic", "ms ui gothic", "Osaka-Mono" })
    {
        const auto resolved = resolveTypefaceName (name);
        EXPECT_TRUE (installed.contains (resolved)) << name << " -> " << resolved;
        EXPECT_TRUE (hasGlyphsFor (resolved, japanese)) << name << " -> " << resolved;
    }

    // Installed and unknown names are left alone.
    EXPECT_EQ (resolveTypefaceName (latin), latin);
    EXPECT_EQ (resolveTypefaceName ("No Such Family 7000"), "No Such Family 7000");
    EXPECT_EQ (resolveTypefaceName (""), "");
}

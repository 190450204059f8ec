// The Windows platform seams against the real system calls (run under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <juce_graphics/juce_graphics.h>

#include "platform/LanguageSource.h"
#include "resources/TxtLoader.h"

namespace
{
    std::vector<std::string> installedLocales (int stopAfter = -1)
    {
        std::vector<std::string> seen;
        createSystemLanguageSource()->enumerateInstalledLocales ([&] (const char* id)
        {
            seen.emplace_back (id != nullptr ? id : "");
            return stopAfter < 0 || (int) seen.size() < stopAfter;
        });
        return seen;
    }

    bool isEightHexDigits (const std::string& s)
    {
        return s.size() == 8 && s.find_first_not_of ("0123456789abcdefABCDEF") == std::string::npos;
    }

    bool endsInPrimary (const std::string& id, int primary)
    {
        char digits[3];
        std::snprintf (digits, sizeof (digits), "%02x", primary);
        return id.size() >= 2 && std::tolower ((unsigned char) id[id.size() - 2]) == digits[0]
                              && std::tolower ((unsigned char) id[id.size() - 1]) == digits[1];
    }
}

TEST (SystemLanguage, InstalledLocalesAreEightHexDigitsAndIncludeUsEnglish)
{
    const auto locales = installedLocales();
    ASSERT_FALSE (locales.empty());

    for (auto& id : locales)
        EXPECT_TRUE (isEightHexDigits (id)) << id;

    EXPECT_NE (std::find (locales.begin(), locales.end(), "00000409"), locales.end());
}

TEST (SystemLanguage, EnumerationStopsWhenTheCallbackSaysSo)
{
    ASSERT_GT (installedLocales().size(), 2u);
    EXPECT_EQ (installedLocales (2).size(), 2u);
}

TEST (SystemLanguage, DefaultLanguageFollowsTheUserSetting)
{
    const char* expected = std::getenv ("QVR_EXPECTED_PRIMARY_LANGUAGE");

    if (expected == nullptr)
        GTEST_SKIP() << "started without a known user language";

    const auto primary = (int) std::strtol (expected, nullptr, 16);
    EXPECT_EQ (createSystemLanguageSource()->getUserDefaultLanguageId() & 0xff, primary);

    // The start language the tool picks from the real system: Japanese needs
    // a Japanese locale installed, which Wine always has.
    TxtLoader::deleteInstance();
    TxtLoader::setLanguageSource (createSystemLanguageSource());
    EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), primary == 0x11 ? 1 : 0);
    EXPECT_TRUE (TxtLoader::getInstance()->isLanguageAvailable (1));
    TxtLoader::deleteInstance();
}

TEST (SystemLanguage, JapaneseLocaleIsListedForTheLanguageOffer)
{
    const auto locales = installedLocales();
    EXPECT_TRUE (std::any_of (locales.begin(), locales.end(), [] (auto& id) { return endsInPrimary (id, 0x11); }));
}

// The texts name their fonts; a system without them draws the fallback font.
// Only meaningful in a prepared prefix (scripts/wine-prefix.sh) or on Windows itself.
TEST (SystemFonts, BothTextFontsAreInstalled)
{
    if (std::getenv ("QVR_EXPECT_TEXT_FONTS") == nullptr)
        GTEST_SKIP() << "not told that the text fonts are installed";

    const auto names = juce::Font::findAllTypefaceNames();
    EXPECT_TRUE (names.contains ("Arial", true)) << names.joinIntoString (", ");
    EXPECT_TRUE (names.contains ("MS UI Gothic", true)) << names.joinIntoString (", ");
}

#include <gtest/gtest.h>

#include "support/TestLanguageSource.h"

TEST (LanguageDetection, PicksTheStartLanguageAndWhatIsOffered)
{
    const struct { int defaultId; std::vector<std::string> installed; int language; bool japaneseOffered; } cases[] = {
        { 0x0809, { "00000409", "00000411" }, 0, true },
        { 0x0411, { "00000409", "00000411" }, 1, true },
        { 0x0411, { "00000409", "00000412" }, 0, false },
        { 0x0411, {}, 0, false },
        { 0x0407, { "00000411" }, 0, true },
        { 0x0011, { "00000011" }, 1, true },        // only the low byte counts, for either side
        { 0x0411, { "00000811" }, 1, true },
        { 0x0411, { "00001104", "1" }, 0, false },
    };

    for (auto& c : cases)
    {
        auto* loader = freshTxtLoader (c.defaultId, c.installed);
        SCOPED_TRACE (c.defaultId);
        EXPECT_EQ (loader->getLanguage(), c.language);
        EXPECT_EQ (loader->isLanguageAvailable (1), c.japaneseOffered);
        EXPECT_TRUE (loader->isLanguageAvailable (0));
        EXPECT_FALSE (loader->isLanguageAvailable (2));
        EXPECT_EQ (loader->getCurrentFontName(), c.language == 1 ? "MS UI Gothic" : "Arial");
    }

    TxtLoader::deleteInstance();
}

TEST (LinuxLanguageSettings, LocaleNamesMapToLanguageIds)
{
    const std::pair<const char*, int> cases[] = { { "ja_JP.UTF-8", 0x0411 }, { "ja", 0x0411 }, { "en_GB.UTF-8", 0x0409 },
                                                  { "de_DE@euro", 0x0407 }, { "C", 0x0409 }, { "C.UTF-8", 0x0409 }, { "POSIX", 0x0409 },
                                                  { "", 0x0409 }, { nullptr, 0x0409 }, { "xx_YY", 0 } };

    for (auto [name, id] : cases)
        EXPECT_EQ (languageIdFromLocaleName (name), id) << (name != nullptr ? name : "(null)");
}

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TestLanguageSource.h"

namespace
{
    struct Detection
    {
        int defaultId;
        std::vector<std::string> installed;
        int language;
        int offered;
    };

    void PrintTo (const Detection& d, std::ostream* os)
    {
        *os << "default 0x" << std::hex << d.defaultId << std::dec << " with " << d.installed.size() << " locales";
    }

    class LanguageDetection : public ::testing::TestWithParam<Detection>
    {
    protected:
        void TearDown() override { TxtLoader::deleteInstance(); }
    };

    int offeredLanguages (const TxtLoader& loader)
    {
        int n = 0;
        for (int i = 0; i < TxtLoader::numLanguages; ++i)
            n += loader.isLanguageAvailable (i) ? 1 : 0;
        return n;
    }

    // Restores an environment variable when the test is done with it.
    struct ScopedEnv
    {
        ScopedEnv (const char* n, const char* value) : name (n)
        {
            if (auto* old = std::getenv (n))
                saved = old, hadValue = true;
            value != nullptr ? setenv (n, value, 1) : unsetenv (n);
        }

        ~ScopedEnv() { hadValue ? setenv (name, saved.c_str(), 1) : unsetenv (name); }

        const char* name;
        std::string saved;
        bool hadValue = false;
    };
}

TEST_P (LanguageDetection, PicksTheStartLanguageAndWhatIsOffered)
{
    const auto& c = GetParam();
    auto* loader = freshTxtLoader (c.defaultId, c.installed);

    EXPECT_EQ (loader->getLanguage(), c.language);
    EXPECT_EQ (offeredLanguages (*loader), c.offered);
    EXPECT_TRUE (loader->isLanguageAvailable (0));
    EXPECT_FALSE (loader->isLanguageAvailable (2));
    EXPECT_EQ (loader->getCurrentFontName(), c.language == 1 ? "MS UI Gothic" : "Arial");
}

INSTANTIATE_TEST_SUITE_P (Cases,
                          LanguageDetection,
                          ::testing::Values (Detection { 0x0809, { "00000409", "00000411" }, 0, 2 },
                                             Detection { 0x0411, { "00000409", "00000411" }, 1, 2 },
                                             Detection { 0x0411, { "00000409", "00000412" }, 0, 1 },
                                             Detection { 0x0411, {}, 0, 1 },
                                             Detection { 0x0407, { "00000411" }, 0, 2 },
                                             Detection { 0x0011, { "00000011" }, 1, 2 } // only the low byte counts, for either side
                                             ));

TEST (LanguageDetectionLocales, LocaleIdsMatchOnTheirLastTwoDigitsIgnoringCase)
{
    EXPECT_TRUE (freshTxtLoader (0x0411, { "00000811" })->isLanguageAvailable (1));
    EXPECT_FALSE (freshTxtLoader (0x0411, { "00001104" })->isLanguageAvailable (1));
    EXPECT_FALSE (freshTxtLoader (0x0411, { "1" })->isLanguageAvailable (1));
    TxtLoader::deleteInstance();

    EXPECT_FALSE (TxtLoader::enumLocaleProc (nullptr)) << "no text ends the enumeration";
}

TEST (LanguageDetectionLocales, SetLanguageToTheCurrentOneReloadsNothing)
{
    auto* loader = freshTxtLoader (0x0409, {});
    const auto* before = &loader->getString (6);
    loader->setLanguage (0);
    loader->setLanguage (-1);
    loader->setLanguage (7);
    EXPECT_EQ (loader->getLanguage(), 0);
    EXPECT_EQ (&loader->getString (6), before);
    EXPECT_EQ (*before, "Please choose a language used.");
    TxtLoader::deleteInstance();
}

TEST (LinuxLanguageSettings, LocaleNamesMapToLanguageIds)
{
    EXPECT_EQ (languageIdFromLocaleName ("ja_JP.UTF-8"), 0x0411);
    EXPECT_EQ (languageIdFromLocaleName ("ja"), 0x0411);
    EXPECT_EQ (languageIdFromLocaleName ("en_GB.UTF-8") & 0xff, 0x09);
    EXPECT_EQ (languageIdFromLocaleName ("de_DE@euro"), 0x0407);
    EXPECT_EQ (languageIdFromLocaleName ("C"), 0x0409);
    EXPECT_EQ (languageIdFromLocaleName ("C.UTF-8"), 0x0409);
    EXPECT_EQ (languageIdFromLocaleName ("POSIX"), 0x0409);
    EXPECT_EQ (languageIdFromLocaleName (""), 0x0409);
    EXPECT_EQ (languageIdFromLocaleName (nullptr), 0x0409);
    EXPECT_EQ (languageIdFromLocaleName ("xx_YY"), 0);
}

TEST (LinuxLanguageSettings, EnvironmentIsReadStrongestFirst)
{
    const auto source = createSystemLanguageSource();

    ScopedEnv all ("LC_ALL", nullptr), messages ("LC_MESSAGES", "de_DE.UTF-8"), lang ("LANG", "ja_JP.UTF-8");
    EXPECT_EQ (source->getUserDefaultLanguageId(), 0x0407);

    {
        ScopedEnv strongest ("LC_ALL", "ja_JP.UTF-8");
        EXPECT_EQ (source->getUserDefaultLanguageId(), 0x0411);
    }

    {
        ScopedEnv noMessages ("LC_MESSAGES", "");
        EXPECT_EQ (source->getUserDefaultLanguageId(), 0x0411);
        ScopedEnv noLang ("LANG", nullptr);
        EXPECT_EQ (source->getUserDefaultLanguageId(), 0x0409);
    }
}

TEST (LinuxLanguageSettings, InstalledLocalesComeAsEightHexDigits)
{
    const auto source = createSystemLanguageSource();
    std::vector<std::string> ids;
    source->enumerateInstalledLocales ([&] (const char* id)
                                       {
                                           ids.push_back (id);
                                           return true;
                                       });

    ASSERT_FALSE (ids.empty()) << "C and POSIX are always there";
    for (auto& id : ids)
    {
        EXPECT_EQ (id.size(), 8u) << id;
        EXPECT_EQ (id.find_first_not_of ("0123456789ABCDEF"), std::string::npos) << id;
    }

    EXPECT_NE (std::find (ids.begin(), ids.end(), "00000409"), ids.end());

    int calls = 0;
    source->enumerateInstalledLocales ([&] (const char*) { return ++calls < 1; });
    EXPECT_EQ (calls, 1) << "a false answer ends the enumeration";
}

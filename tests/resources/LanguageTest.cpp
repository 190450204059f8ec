#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TestLanguageSource.h"

namespace
{
    // Sets or clears an environment variable until the end of the scope.
    struct ScopedEnv
    {
        ScopedEnv (const char* n, const char* value) : name (n), old (std::getenv (n) != nullptr ? std::getenv (n) : "")
        {
            value != nullptr ? setenv (n, value, 1) : unsetenv (n);
        }

        ~ScopedEnv() { old.empty() ? unsetenv (name) : setenv (name, old.c_str(), 1); }

        const char* name;
        std::string old;
    };
}

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

TEST (LinuxLanguageSettings, EnvironmentIsReadStrongestFirst)
{
    const auto source = createSystemLanguageSource();
    const struct { const char *all, *messages, *lang; int id; } cases[] = {
        { nullptr, "de_DE.UTF-8", "ja_JP.UTF-8", 0x0407 },
        { "ja_JP.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", 0x0411 },
        { nullptr, "", "ja_JP.UTF-8", 0x0411 },   // set but empty counts as not set
        { nullptr, "", nullptr, 0x0409 },
    };

    for (auto& c : cases)
    {
        ScopedEnv all ("LC_ALL", c.all), messages ("LC_MESSAGES", c.messages), lang ("LANG", c.lang);
        EXPECT_EQ (source->getUserDefaultLanguageId(), c.id) << c.messages;
    }
}

TEST (LinuxLanguageSettings, InstalledLocalesComeAsEightHexDigits)
{
    const auto source = createSystemLanguageSource();
    std::vector<std::string> ids;
    source->enumerateInstalledLocales ([&] (const char* id) { ids.push_back (id); return true; });

    // C and POSIX are always there, and the tests' start installs a Japanese locale.
    EXPECT_NE (std::find (ids.begin(), ids.end(), "00000409"), ids.end());
    EXPECT_NE (std::find (ids.begin(), ids.end(), "00000411"), ids.end());

    int calls = 0;
    source->enumerateInstalledLocales ([&] (const char*) { return ++calls < 1; });
    EXPECT_EQ (calls, 1) << "a false answer ends the enumeration";
}

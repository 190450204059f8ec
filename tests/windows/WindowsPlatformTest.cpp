// The Windows platform seams against the real system calls (run under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/LanguageSource.h"
#include "platform/NetCalls.h"
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
}

TEST (SystemLanguage, InstalledLocalesAreEightHexDigitsUntilTheCallbackSaysStop)
{
    const auto locales = installedLocales();
    ASSERT_GT (locales.size(), 2u);

    for (auto& id : locales)
        EXPECT_TRUE (id.size() == 8 && id.find_first_not_of ("0123456789abcdefABCDEF") == std::string::npos) << id;

    EXPECT_NE (std::find (locales.begin(), locales.end(), "00000409"), locales.end());
    EXPECT_NE (std::find (locales.begin(), locales.end(), "00000411"), locales.end());
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

// A table that grows between the size query and the read, again and again:
// giving up must never leave an empty table to be read as "nobody listens".
TEST (SystemTables, TableThatNeverFitsIsNoAnswer)
{
    std::vector<char> table;
    int calls = 0;
    const auto growing = [&calls] (void*, unsigned long* size) { *size = 64u * (unsigned long) ++calls; return 122ul; };
    EXPECT_FALSE (netcalls::readGrowingTable (growing, table));
    EXPECT_TRUE (table.empty());

    const auto fitsSecondTime = [] (void* into, unsigned long* size)
    {
        const bool fits = into != nullptr && *size >= 8;

        if (fits)
            std::memset (into, 7, 8);

        *size = 8;
        return fits ? 0ul : 122ul;   // 122: ERROR_INSUFFICIENT_BUFFER
    };
    EXPECT_TRUE (netcalls::readGrowingTable (fitsSecondTime, table));
    EXPECT_EQ (table, std::vector<char> (8, 7));
}

// The Windows platform seams against the real system calls (run under Wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/LanguageSource.h"
#include "platform/WindowsSystem.h"
#include "resources/TxtLoader.h"

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
    EXPECT_FALSE (readGrowingTable (growing, table));
    EXPECT_TRUE (table.empty());

    const auto fitsSecondTime = [] (void* into, unsigned long* size)
    {
        const bool fits = into != nullptr && *size >= 8;

        if (fits)
            std::memset (into, 7, 8);

        *size = 8;
        return fits ? 0ul : 122ul;   // 122: ERROR_INSUFFICIENT_BUFFER
    };
    EXPECT_TRUE (readGrowingTable (fitsSecondTime, table));
    EXPECT_EQ (table, std::vector<char> (8, 7));
}

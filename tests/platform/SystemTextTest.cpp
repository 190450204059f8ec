#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/SystemText.h"

TEST (SystemText, AnyBytesBecomeValidTextShownReadablyAndGoBackUnchanged)
{
    const struct
    {
        const char* bytes;
        const char* shown;
    } cases[] = {
        { "fw.upd", "fw.upd" },
        { "山田 ファーム \xf0\x9f\x98\x80", "山田 ファーム 😀" },
        // The first and last of each length, either side of the surrogates and of the kept range.
        { "\xc2\x80 \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xee\xbd\xbf \xef\x80\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf",
          "\xc2\x80 \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xee\xbd\xbf \xef\x80\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf" },
        { "Fran\xe7"
          "ais 100\x80.upd",
          "Fran\uFFFDais 100\uFFFD.upd" },
        { "\x80", "\uFFFD" },
        { "\xc0\x80", "\uFFFD\uFFFD" },                        // overlong
        { "\xe0\x80\xaf \xf0\x80\x80\xaf", "\uFFFD\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD\uFFFD" },
        { "\xe6\x97 \xe6\x97", "\uFFFD\uFFFD \uFFFD\uFFFD" },  // cut short, inside and at the end
        { "\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD" },              // a surrogate
        { "\xf4\x90\x80\x80 \xf5\x80", "\uFFFD\uFFFD\uFFFD\uFFFD \uFFFD\uFFFD" }, // beyond U+10FFFF
        { "\xee\xbe\x80\xee\xbf\xbf", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD" },  // a name holding the kept range itself
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.shown);
        const auto text = systemtext::fromBytes (c.bytes);
        EXPECT_EQ (systemtext::forDisplay (text).toStdString(), c.shown);
        EXPECT_EQ (systemtext::toBytes (text), c.bytes);
    }

    EXPECT_EQ (systemtext::fromBytes (nullptr), "");

   #if ! defined (_WIN32)
    // Only what is not UTF-8 changes; a working folder with a valid name stays.
    const auto folder = systemtext::workingDirectory();
    ::setenv ("QVR_TEST_TEXT", "Fran\xe7" "ais", 1);
    systemtext::makeProcessTextSafe();
    EXPECT_STREQ (std::getenv ("QVR_TEST_TEXT"), "Fran\xee\xbf\xa7" "ais");
    EXPECT_EQ (systemtext::workingDirectory(), folder);
    ::unsetenv ("QVR_TEST_TEXT");
   #endif
}

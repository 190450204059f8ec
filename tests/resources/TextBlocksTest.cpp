#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resources/TextBlocks.h"

namespace
{
    std::string asString (TextBlock block) { return std::string (block.data, (size_t) block.size); }

    size_t countOf (const std::string& text, const std::string& part)
    {
        size_t n = 0;
        for (auto pos = text.find (part); pos != std::string::npos; pos = text.find (part, pos + 1))
            ++n;
        return n;
    }
}

TEST (TextBlocks, HaveTheirExactLengthsAndATerminatingZero)
{
    const std::pair<TextBlock, int> blocks[] = { { TextBlocks::englishStrings(), 1277 },
                                                 { TextBlocks::japaneseStrings(), 2911 },
                                                 { TextBlocks::fontsAndLanguages(), 124 } };

    for (auto& [block, length] : blocks)
    {
        EXPECT_EQ (block.size, length);
        EXPECT_EQ (block.data[block.size], 0) << "a line search must be able to stop at the byte after the block";
        EXPECT_EQ (std::memchr (block.data, 0, (size_t) block.size), nullptr);

        const auto text = asString (block);
        EXPECT_EQ (text.substr (0, 5), "\xEF\xBB\xBF\r\n");
        EXPECT_EQ (text.substr (text.size() - 2), "\r\n");
        EXPECT_EQ (countOf (text, "\n"), countOf (text, "\r\n")) << "every line ends in CR LF";
    }
}

TEST (TextBlocks, StringTablesKeepTheirLayout)
{
    for (auto block : { TextBlocks::englishStrings(), TextBlocks::japaneseStrings() })
    {
        const auto text = asString (block);
        EXPECT_EQ (text.substr (5, 8), ":STR\r\n\r\n");
        EXPECT_EQ (text.substr (text.size() - 8), "\r\n:EOF\r\n");
        EXPECT_EQ (countOf (text, "\r\n\r\n"), 10u) << "a blank line after :STR and after ids 0 1 3 5 10 13 22 31 40";
        EXPECT_EQ (countOf (text, "reboot after the end.\\n\r\n") + countOf (text, "\xe4\xb8\x8b\xe3\x81\x95\xe3\x81\x84\xe3\x80\x82\\n\r\n"), 1u)
            << "entry 10 has no closing quote";
    }

    const auto ja = asString (TextBlocks::japaneseStrings());
    EXPECT_EQ (countOf (ja, "\t\t//\t"), 27u);
    EXPECT_NE (ja.find ("\"\xe9\x80\x81\xe4\xbf\xa1\xe5\xa4\xb1\xe6\x95\x97_S9\"\t\t//\t\xe9\x80\x81\xe4\xbf\xa1\xe5\xa4\xb1\xe6\x95\x97 \xef\xbc\x99\t\r\n"), std::string::npos);
}

TEST (TextBlocks, FontsAndLanguagesBlockIsByteExact)
{
    EXPECT_EQ (asString (TextBlocks::fontsAndLanguages()),
               "\xEF\xBB\xBF\r\n:FONT_WIN\r\n\r\n\"Arial\"\r\n\"MS UI Gothic\"\r\n\r\n:FONT_MAC\r\n\r\n\"Arial\"\r\n\"Osaka-Mono\"\r\n\r\n"
               ":LANG\r\n\r\n\"English\"\r\n\"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\"\r\n\r\n:EOF\r\n");
}

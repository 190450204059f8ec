#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestLanguageSource.h"

namespace
{
    // Runs the section loader over a block made in the test, with its own terminating zero.
    std::vector<juce::String> load (const std::string& block, int kind, int capacity = 8)
    {
        std::vector<juce::String> slots ((size_t) capacity, "untouched");
        TxtLoader::loadSection (block.c_str(), (int) block.size(), kind, slots.data(), capacity);
        return slots;
    }

    std::string unquoted (const std::string& line, int capacity = 2048)
    {
        std::vector<char> out ((size_t) capacity + 1, 'X');
        TxtLoader::unquote (line.c_str(), out.data(), capacity);
        EXPECT_EQ (out[(size_t) capacity], 'X') << "wrote past the output";
        return out.data();
    }
}

TEST (TxtLoader, AccessorsGiveTheTablesAndSetLanguageReloadsEveryString)
{
    auto* loader = freshTxtLoader (0x0409, {});
    EXPECT_EQ (loader->getString (1), "QVR Firmware Downloader");
    EXPECT_EQ (loader->getString (17), "Cannot find the UpdateFile_I4");
    EXPECT_TRUE (loader->getString (10).endsWith ("reboot after the end.\n")) << "the entry without its closing quote";
    for (int outOfRange : { 41, -1 })
        EXPECT_EQ (loader->getString (outOfRange), "");

    EXPECT_EQ (loader->getFontName (1), "MS UI Gothic") << "the Mac font section is never read";
    EXPECT_EQ (loader->getLanguageName (1), juce::String::fromUTF8 ("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"));
    EXPECT_EQ (loader->getFontName (2) + loader->getLanguageName (-1), "");

    std::vector<juce::String> english;
    for (int id = 0; id < TxtLoader::numStrings; ++id)
        english.push_back (loader->getString (id));

    const auto& start = loader->getString (3);   // references follow the language
    loader->setLanguage (1);
    EXPECT_EQ (loader->getCurrentFontName(), "MS UI Gothic");
    EXPECT_EQ (start, juce::String::fromUTF8 ("\xe9\x96\x8b\xe5\xa7\x8b"));
    EXPECT_EQ (loader->getString (35), juce::String::fromUTF8 ("\xe9\x80\x81\xe4\xbf\xa1\xe5\xa4\xb1\xe6\x95\x97_S4")) << "the comment after the quote stays out";

    int changed = 0;
    for (int id = 0; id < TxtLoader::numStrings; ++id)
        changed += loader->getString (id) != english[(size_t) id] ? 1 : 0;
    EXPECT_EQ (changed, 41 - 3) << "all but the empty string, the title and OK differ";

    loader->setLanguage (0);
    for (int id = 0; id < TxtLoader::numStrings; ++id)
        EXPECT_EQ (loader->getString (id), english[(size_t) id]) << id;

    TxtLoader::deleteInstance();
}

TEST (TxtLoaderSections, MarkersCapacityAndLineEndsDecideWhatIsRead)
{
    const std::string block = "\xEF\xBB\xBF\r\n\"before any marker\"\r\n:STR\r\n\"a\"\r\n# comment\r\n\r\n\"b\"\r\n"
                              ":WHATEVER\r\n\"hidden\"\r\n:LANG and STR\r\n\"lang\"\r\n:STR again\r\n\"c\"\r\n:xEOFx\r\n\"after end\"\r\n";

    // Comments and blank lines take no id, a second STR section goes on numbering,
    // slots the section does not reach keep what they held, LANG is tested before STR.
    const auto strings = load (block, TxtLoader::str);
    EXPECT_EQ (juce::StringArray (strings.data(), 5).joinIntoString ("|"), "a|b|c|untouched|untouched");
    EXPECT_EQ (load (block, TxtLoader::lang)[0] + "|" + load (block, TxtLoader::lang)[1], "lang|untouched");

    EXPECT_EQ (load (":STR\r\n\"1\"\r\n\"2\"\r\n\"3\"\r\n", TxtLoader::str, 2)[1], "2");

    for (auto* block : { ":STR\n\"x\"\n\n\"y\"\n:EOF\n", ":STR\r\n\"x\"\r\n\r\n\"y\"\r\n:EOF\r\n", ":STR\r\"x\"\r\r\"y\"\r:EOF\r" })
        EXPECT_EQ (load (block, TxtLoader::str)[0] + load (block, TxtLoader::str)[1] + load (block, TxtLoader::str)[2], "xyuntouched");

    const auto unterminated = load (":STR\r\n\"x\"\r\n\"last line without end", TxtLoader::str);
    EXPECT_EQ (unterminated[1], "last line without end");
    EXPECT_EQ (unterminated[2], "untouched");
}

TEST (TxtLoaderSections, NeverReadsPastTheCountNorKeepsMoreThanALine)
{
    // The counted part ends inside the second entry: what follows must stay unread
    // although no zero byte stands at the end of the count.
    const std::string block = ":STR\r\n\"in\"\r\n\"cut here|beyond the block\"\r\n";
    const auto cut = (int) block.find ('|');

    std::vector<juce::String> slots (4);
    TxtLoader::loadSection (block.c_str(), cut, TxtLoader::str, slots.data(), 4);
    EXPECT_EQ (slots[0], "in");
    EXPECT_EQ (slots[1], "cut here");
    EXPECT_EQ (slots[2], "");

    // Overlong lines and entries are cut, not overrun.
    const std::string huge (5000, 'a');

    const auto withEnd = load (":STR\r\n\"" + huge + "\"\r\n\"next\"\r\n", TxtLoader::str);
    EXPECT_EQ (withEnd[0].length(), 2046) << "the line keeps 2047 bytes: the opening quote and 2046 letters";
    EXPECT_EQ (withEnd[1], "next") << "the rest of the long line does not become an entry";

    const auto noEnd = load (":STR\r\n\"" + huge, TxtLoader::str);
    EXPECT_EQ (noEnd[0].length(), 2046);

    EXPECT_EQ (unquoted ("\"" + huge + "\"").size(), 2047u);
    EXPECT_EQ (unquoted ("\"abcdef\"", 4), "abc");
    EXPECT_EQ (unquoted ("\"ab\\", 8), "ab\\") << "a backslash at the very end is kept";
}

TEST (TxtLoaderUnquote, EscapesAndQuotes)
{
    EXPECT_EQ (unquoted (R"("a\nb\rc\td\"e\\f")"), "a\nb\rc\td\"e\\f");
    EXPECT_EQ (unquoted (R"("keep \q and \x")"), "keep \\q and \\x");
    EXPECT_EQ (unquoted (R"(lead "text" // comment "more")"), "text");
    EXPECT_EQ (unquoted (R"("no closing quote)"), "no closing quote");
    EXPECT_EQ (unquoted ("no quote at all"), "");
}

#pragma once

#include <cstddef>

/** A compiled-in block: its bytes, their count, and a zero byte after the last one. */
struct TextBlock
{
    const char* data = nullptr;
    int size = 0;
};

namespace textblocks
{
    TextBlock englishStrings();
    TextBlock japaneseStrings();
    TextBlock fontsAndLanguages();
}

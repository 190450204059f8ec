#include "resources/TextBlocks.h"

#include "QvrData.h"

namespace textblocks
{
    TextBlock englishStrings() { return { QvrData::strings_en_txt, QvrData::strings_en_txtSize }; }
    TextBlock japaneseStrings() { return { QvrData::strings_ja_txt, QvrData::strings_ja_txtSize }; }
    TextBlock fontsAndLanguages() { return { QvrData::fonts_languages_txt, QvrData::fonts_languages_txtSize }; }
}

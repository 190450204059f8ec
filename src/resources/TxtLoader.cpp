#include "resources/TxtLoader.h"

#include "platform/SystemText.h"

#include <cstring>
#include <string>

namespace
{
    TxtLoader* instance = nullptr;

    std::unique_ptr<LanguageSource>& languageSource()
    {
        static std::unique_ptr<LanguageSource> source;
        return source;
    }

    struct LanguageEntry
    {
        int languageId;
        TextBlock (*stringTable)();
    };

    // Index order is the language index: 0 English, 1 Japanese.
    const LanguageEntry languageTable[TxtLoader::numLanguages] = {
        { 0x0409, textblocks::englishStrings },
        { 0x0411, textblocks::japaneseStrings },
    };

    constexpr int bufferSize = TxtLoader::maxLineBytes + 1;

    const char* findByte (const char* from, const char* end, char wanted)
    {
        // A zero byte ends the search like the terminator after the block does.
        for (auto* p = from; p < end && *p != 0; ++p)
            if (*p == wanted)
                return p;

        return nullptr;
    }

    // juce::String::fromUTF8 overruns its own buffer on malformed input, so a
    // damaged block must never reach it as it is: bad bytes show as U+FFFD.
    juce::String decodeUtf8 (const char* text)
    {
        return systemtext::forDisplay (systemtext::fromBytes (text));
    }

    const char* endOfSearch (const char* from, const char* end)
    {
        auto* p = from;
        while (p < end && *p != 0)
            ++p;
        return p;
    }
}

TxtLoader::TxtLoader()
{
    const auto block = textblocks::fontsAndLanguages();
    loadSection (block.data, block.size, fontWin, fontNames, numLanguages);
    loadSection (block.data, block.size, lang, languageNames, numLanguages);
}

TxtLoader::~TxtLoader() = default;

TxtLoader* TxtLoader::getInstance()
{
    if (instance == nullptr)
    {
        // Stored before the detection: its per-locale callback comes back here.
        instance = new TxtLoader();
        const auto language = instance->detectLanguage();

        if (instance->currentLanguage == -1)
            instance->setLanguage (language);
    }

    return instance;
}

void TxtLoader::deleteInstance()
{
    delete instance;
    instance = nullptr;
}

void TxtLoader::setLanguageSource (std::unique_ptr<LanguageSource> source)
{
    languageSource() = std::move (source);
}

const juce::String& TxtLoader::getString (int id) const
{
    return juce::isPositiveAndBelow (id, numStrings) ? strings[id] : fallback;
}

const juce::String& TxtLoader::getFontName (int language) const
{
    return juce::isPositiveAndBelow (language, numLanguages) ? fontNames[language] : fallback;
}

const juce::String& TxtLoader::getLanguageName (int language) const
{
    return juce::isPositiveAndBelow (language, numLanguages) ? languageNames[language] : fallback;
}

const juce::String& TxtLoader::getCurrentFontName() const
{
    return getFontName (currentLanguage);
}

bool TxtLoader::isLanguageAvailable (int language) const
{
    return juce::isPositiveAndBelow (language, numLanguages) && languageAvailable[language];
}

void TxtLoader::setLanguage (int language)
{
    if (language == currentLanguage || ! juce::isPositiveAndBelow (language, numLanguages))
        return;

    currentLanguage = language;
    const auto block = languageTable[language].stringTable();
    loadSection (block.data, block.size, str, strings, numStrings);
}

int TxtLoader::detectLanguage()
{
    languageAvailable[0] = true;
    languageAvailable[1] = false;

    auto& source = languageSource();
    if (source == nullptr)
        source = createSystemLanguageSource();

    source->enumerateInstalledLocales (&TxtLoader::enumLocaleProc);

    const auto userLowByte = source->getUserDefaultLanguageId() & 0xff;

    for (int i = 0; i < numLanguages; ++i)
        if ((languageTable[i].languageId & 0xff) == userLowByte)
            return languageAvailable[i] ? i : 0;

    return 0;
}

bool TxtLoader::enumLocaleProc (const char* localeId)
{
    if (localeId == nullptr)
        return false;

    char wanted[8];
    std::snprintf (wanted, sizeof (wanted), "%02x", languageTable[1].languageId & 0xff);

    const auto length = std::strlen (localeId);
    if (length < 2 || juce::String (localeId + length - 2).compareIgnoreCase (wanted) != 0)
        return true;

    getInstance()->languageAvailable[1] = true;
    return true;
}

void TxtLoader::loadSection (const char* block, int length, int kind, juce::String* dest, int capacity)
{
    if (block == nullptr || length < 0)
        return;

    char line[bufferSize];
    char entry[bufferSize];

    const char* position = block;
    const char* const end = block + length;
    int current = none;
    int count = 0;

    for (;;)
    {
        const auto* cr = findByte (position, end, '\r');
        const auto* lf = findByte (position, end, '\n');

        const char* lineEnd;
        const char* textEnd;

        if (cr != nullptr && lf != nullptr)
        {
            lineEnd = juce::jmax (cr, lf);
            textEnd = lineEnd - 1;
        }
        else if (cr != nullptr || lf != nullptr)
        {
            lineEnd = cr != nullptr ? cr : lf;
            textEnd = lineEnd;
        }
        else
        {
            // No line end left: the rest, up to the block's end, is the last line.
            lineEnd = endOfSearch (position, end);
            textEnd = lineEnd;
        }

        // Longer lines are cut at the buffer's size rather than overrunning it.
        const auto textLength = (size_t) juce::jlimit<std::ptrdiff_t> (0, maxLineBytes, textEnd - position);
        std::memcpy (line, position, textLength);
        line[textLength] = 0;

        position = lineEnd + 1;

        const auto first = line[0];

        if (first == ':')
        {
            if (std::strstr (line, "EOF") != nullptr)
                return;

            current = std::strstr (line, "FONT_WIN") != nullptr ? fontWin
                    : std::strstr (line, "LANG") != nullptr   ? lang
                    : std::strstr (line, "STR") != nullptr    ? str
                                                              : none;
        }
        else if (first != 0 && first != '\r' && first != '\n' && first != '#')
        {
            if (current == kind && count < capacity)
            {
                unquote (line, entry, bufferSize);
                dest[count++] = decodeUtf8 (entry);
            }
        }

        if (position > end)
            return;
    }
}

void TxtLoader::unquote (const char* line, char* out, int outCapacity)
{
    if (outCapacity <= 0)
        return;

    auto* written = out;
    auto* const last = out + outCapacity - 1;

    // A line without any quote has no text.
    const auto* p = std::strchr (line, '"');

    if (p != nullptr)
    {
        ++p;

        while (*p != 0 && *p != '"' && written < last)
        {
            if (*p == '\\')
            {
                const auto next = p[1];
                const char replacement = next == 'r' ? '\r'
                                       : next == 'n' ? '\n'
                                       : next == 't' ? '\t'
                                       : next == '"' ? '"'
                                       : next == '\\' ? '\\'
                                                      : 0;
                if (replacement != 0)
                {
                    *written++ = replacement;
                    p += 2;
                    continue;
                }
            }

            *written++ = *p++;
        }
    }

    *written = 0;
}

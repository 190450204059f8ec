#pragma once

#include <juce_core/juce_core.h>

#include "platform/LanguageSource.h"
#include "resources/TextBlocks.h"

/** The process-wide text singleton: the 41 strings of the current language, the
    font and display name of each language, and which languages are offered.

    Message thread only. The main component creates it first and deletes it last.
*/
class TxtLoader final
{
public:
    enum SectionKind
    {
        none = 0,
        fontWin = 1,
        lang = 3,
        str = 4
    };

    static constexpr int numStrings = 41;
    static constexpr int numLanguages = 2;
    static constexpr int maxLineBytes = 2047;

    /** Creates the instance on first use: parses fonts and names, detects and loads the start-up language. */
    static TxtLoader* getInstance();
    static void deleteInstance();

    /** Replaces where language settings come from; takes effect at the next getInstance that creates. */
    static void setLanguageSource (std::unique_ptr<LanguageSource> source);

    virtual ~TxtLoader();

    const juce::String& getString (int id) const;
    const juce::String& getFontName (int language) const;
    const juce::String& getLanguageName (int language) const;
    const juce::String& getCurrentFontName() const;
    int getLanguage() const noexcept { return currentLanguage; }

    bool isLanguageAvailable (int language) const;

    /** Makes 0 or 1 current and reloads the strings; the same index does nothing. */
    void setLanguage (int language);

    /** Start-up language; sets the availability flags. */
    int detectLanguage();

    /** Per-locale callback of the enumeration; false only for no text. */
    static bool enumLocaleProc (const char* localeId);

    /** Fills dest[0..] with the entries of the wanted section kind, at most capacity. */
    static void loadSection (const char* block, int length, int kind, juce::String* dest, int capacity);

    /** Writes the entry's unescaped text, at most outCapacity - 1 bytes plus a zero. */
    static void unquote (const char* line, char* out, int outCapacity);

private:
    TxtLoader();

    int currentLanguage = -1;
    juce::String fallback;
    bool languageAvailable[numLanguages] = { true, false };
    juce::String fontNames[numLanguages];
    juce::String languageNames[numLanguages];
    juce::String strings[numStrings];

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TxtLoader)
};

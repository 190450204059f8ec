#include "platform/LanguageSource.h"

#include <cstdlib>

#include <juce_core/juce_core.h>

#include "platform/SystemText.h"

namespace
{
    struct PrimaryLanguage
    {
        const char* code;
        int primary;
    };

    // ISO 639-1 codes and the primary-language numbers that Windows language
    // identifiers carry in their low bits.
    const PrimaryLanguage primaryLanguages[] = {
        { "ar", 0x01 }, { "bg", 0x02 }, { "ca", 0x03 }, { "zh", 0x04 }, { "cs", 0x05 },
        { "da", 0x06 }, { "de", 0x07 }, { "el", 0x08 }, { "en", 0x09 }, { "es", 0x0a },
        { "fi", 0x0b }, { "fr", 0x0c }, { "he", 0x0d }, { "hu", 0x0e }, { "is", 0x0f },
        { "it", 0x10 }, { "ja", 0x11 }, { "ko", 0x12 }, { "nl", 0x13 }, { "nb", 0x14 },
        { "nn", 0x14 }, { "no", 0x14 }, { "pl", 0x15 }, { "pt", 0x16 }, { "ro", 0x18 },
        { "ru", 0x19 }, { "hr", 0x1a }, { "sk", 0x1b }, { "sq", 0x1c }, { "sv", 0x1d },
        { "th", 0x1e }, { "tr", 0x1f }, { "ur", 0x20 }, { "id", 0x21 }, { "uk", 0x22 },
        { "be", 0x23 }, { "sl", 0x24 }, { "et", 0x25 }, { "lv", 0x26 }, { "lt", 0x27 },
        { "fa", 0x29 }, { "vi", 0x2a }, { "hi", 0x39 },
    };

    constexpr int sublangDefault = 0x0400;
    constexpr int english = sublangDefault | 0x09;

    // The environment variables glibc consults for message texts, strongest first.
    juce::String userLocaleName()
    {
        for (auto* name : { "LC_ALL", "LC_MESSAGES", "LANG" })
            if (auto* value = std::getenv (name); value != nullptr && *value != 0)
                return systemtext::fromBytes (value);

        return {};
    }

    class SystemLanguageSource final : public LanguageSource
    {
    public:
        int getUserDefaultLanguageId() const override
        {
            return languageIdFromLocaleName (userLocaleName().toRawUTF8());
        }

        void enumerateInstalledLocales (const std::function<bool (const char*)>& callback) const override
        {
            juce::ChildProcess locales;

            if (! locales.start ("locale -a", juce::ChildProcess::wantStdOut))
                return;

            const auto output = locales.readAllProcessOutput();
            locales.waitForProcessToFinish (2000);

            for (auto& name : juce::StringArray::fromLines (output))
            {
                const auto id = languageIdFromLocaleName (name.trim().toRawUTF8());
                if (id == 0)
                    continue;

                if (! callback (juce::String::toHexString (id).paddedLeft ('0', 8).toUpperCase().toRawUTF8()))
                    return;
            }
        }
    };
}

std::unique_ptr<LanguageSource> createSystemLanguageSource()
{
    return std::make_unique<SystemLanguageSource>();
}

int languageIdFromLocaleName (const char* localeName)
{
    if (localeName == nullptr)
        return english;

    const juce::String name (localeName);

    if (name.isEmpty() || name == "C" || name == "POSIX" || name.startsWith ("C."))
        return english;

    // "ja_JP.UTF-8@variant": the language is what stands before '_', '.', '@' or '-'.
    const auto code = name.upToFirstOccurrenceOf ("_", false, false)
                          .upToFirstOccurrenceOf (".", false, false)
                          .upToFirstOccurrenceOf ("@", false, false)
                          .upToFirstOccurrenceOf ("-", false, false)
                          .toLowerCase();

    for (auto& language : primaryLanguages)
        if (code == language.code)
            return sublangDefault | language.primary;

    return 0;
}

#include "platform/LanguageSource.h"

#include <cstdlib>

#include <juce_core/juce_core.h>

#include "platform/SystemText.h"

namespace
{
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

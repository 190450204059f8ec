#pragma once

#include <functional>
#include <memory>

/** Where the start-up language comes from: the user's default language
    identifier (Windows LANGID form, e.g. 0x0411) and the installed locales as
    8-hex-digit identifiers (e.g. "00000411").

    The text singleton asks this once per process; tests install their own.
*/
class LanguageSource
{
public:
    virtual ~LanguageSource() = default;

    /** The user's default language identifier; only its low byte matters. */
    virtual int getUserDefaultLanguageId() const = 0;

    /** Calls the callback once per installed locale, stopping when it returns false. */
    virtual void enumerateInstalledLocales (const std::function<bool (const char*)>& callback) const = 0;
};

/** The running system's language settings. */
std::unique_ptr<LanguageSource> createSystemLanguageSource();

/** POSIX only: maps a locale name ("ja_JP.UTF-8", "en_GB", "C") to a language
    identifier: the primary language with the default sublanguage, English for
    C/POSIX/empty, 0 for a language we have no identifier for.
*/
int languageIdFromLocaleName (const char* localeName);

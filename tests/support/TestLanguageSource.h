#pragma once

#include <string>
#include <vector>

#include "platform/LanguageSource.h"
#include "resources/TxtLoader.h"

/** A language setting chosen by the test: default identifier and installed locales. */
struct TestLanguageSource final : LanguageSource
{
    TestLanguageSource (int id, std::vector<std::string> installed)
        : defaultId (id), locales (std::move (installed)) {}

    int getUserDefaultLanguageId() const override { return defaultId; }

    void enumerateInstalledLocales (const std::function<bool (const char*)>& callback) const override
    {
        for (auto& locale : locales)
            if (! callback (locale.c_str()))
                return;
    }

    int defaultId;
    std::vector<std::string> locales;
};

/** Drops the text singleton so that the next getInstance detects from this setting. */
inline TxtLoader* freshTxtLoader (int defaultId, std::vector<std::string> installed)
{
    TxtLoader::deleteInstance();
    TxtLoader::setLanguageSource (std::make_unique<TestLanguageSource> (defaultId, std::move (installed)));
    return TxtLoader::getInstance();
}

#include "platform/LanguageSource.h"

#include "platform/WindowsSystem.h"

namespace
{
    // EnumSystemLocalesA hands its callback no context of ours, so the callback
    // of the enumeration under way is kept per thread; enumerations on other
    // threads, or nested ones, do not see each other's.
    thread_local const std::function<bool (const char*)>* currentCallback = nullptr;

    BOOL CALLBACK forwardLocale (LPSTR localeId)
    {
        return currentCallback != nullptr && (*currentCallback) (localeId) ? TRUE : FALSE;
    }

    class WindowsLanguageSource final : public LanguageSource
    {
    public:
        int getUserDefaultLanguageId() const override
        {
            return (int) ::GetUserDefaultLangID();
        }

        void enumerateInstalledLocales (const std::function<bool (const char*)>& callback) const override
        {
            const auto* outer = currentCallback;
            currentCallback = &callback;
            ::EnumSystemLocalesA (forwardLocale, LCID_INSTALLED);
            currentCallback = outer;
        }
    };
}

std::unique_ptr<LanguageSource> createSystemLanguageSource()
{
    return std::make_unique<WindowsLanguageSource>();
}

#include "platform/Console.h"

#include "platform/WindowsSystem.h"

#include <shellapi.h>

namespace
{
    HANDLE streamHandle (bool errorStream)
    {
        return ::GetStdHandle (errorStream ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }
}

namespace console
{
juce::StringArray arguments (int, char**)
{
    // The narrow argv went through the ANSI code page: a file under
    // C:\Users\山田 would arrive as question marks.
    juce::StringArray result;
    int count = 0;

    if (auto** wide = ::CommandLineToArgvW (::GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
            result.add (juce::String (wide[i]));

        ::LocalFree (wide);
    }

    return result;
}

bool isTerminal (bool errorStream)
{
    DWORD mode = 0;
    return ::GetConsoleMode (streamHandle (errorStream), &mode) != 0;
}

void write (const juce::String& text, bool errorStream)
{
    const auto handle = streamHandle (errorStream);
    DWORD written = 0;

    if (isTerminal (errorStream))
    {
        const auto* wide = text.toWideCharPointer();
        ::WriteConsoleW (handle, wide, (DWORD) std::wcslen (wide), &written, nullptr);
        return;
    }

    const auto utf8 = text.toUTF8();
    ::WriteFile (handle, utf8.getAddress(), (DWORD) utf8.sizeInBytes() - 1, &written, nullptr);
}
} // namespace console

#include "platform/Console.h"

#include "platform/SystemText.h"
#include "platform/WindowsSystem.h"

#include <shellapi.h>

namespace
{
    std::atomic<bool>* interruptFlag = nullptr;
    std::atomic<bool> streamLost[2];

    HANDLE streamHandle (console::Stream stream)
    {
        return ::GetStdHandle (stream == console::Stream::err ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }

    // Runs on a thread of its own that the system starts for the event.
    BOOL WINAPI onConsoleEvent (DWORD event)
    {
        interruptFlag->store (true);

        // After a close, logoff or shutdown the system ends the process as soon
        // as this returns (or after about 5 s): main() gets that long to stop
        // announcing and close the port, and its own exit ends us earlier.
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
            ::Sleep (4500);

        return TRUE;
    }
}

namespace console
{
void setUp (std::atomic<bool>& interruptRequested)
{
    // Unlike the C runtime's default, which ends the process on the spot.
    interruptFlag = &interruptRequested;
    ::SetConsoleCtrlHandler (onConsoleEvent, TRUE);
}

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

bool isTerminal (Stream stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode (streamHandle (stream), &mode) != 0;
}

void write (Stream stream, const juce::String& text)
{
    auto& lost = streamLost[stream == Stream::err ? 1 : 0];

    if (lost.load())
        return;

    const auto shown = systemtext::forDisplay (text);
    const auto handle = streamHandle (stream);
    DWORD written = 0;
    BOOL ok = FALSE;

    if (isTerminal (stream))
    {
        const auto* wide = shown.toWideCharPointer();
        ok = ::WriteConsoleW (handle, wide, (DWORD) std::wcslen (wide), &written, nullptr);
    }
    else
    {
        const auto utf8 = shown.toUTF8();
        ok = ::WriteFile (handle, utf8.getAddress(), (DWORD) utf8.sizeInBytes() - 1, &written, nullptr);
    }

    if (! ok)
        lost = true;
}

PathFacts lookAt (const juce::File& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info {};

    if (! ::GetFileAttributesExW (path.getFullPathName().toWideCharPointer(), GetFileExInfoStandard, &info))
    {
        const auto error = ::GetLastError();
        return { error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathFacts::missing : PathFacts::unknown, 0 };
    }

    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return { PathFacts::folder, 0 };

    return { PathFacts::regularFile, ((juce::int64) info.nFileSizeHigh << 32) | (juce::int64) info.nFileSizeLow };
}
} // namespace console

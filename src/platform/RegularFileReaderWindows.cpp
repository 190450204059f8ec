#include "platform/RegularFileReader.h"

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

RegularFileReader::RegularFileReader (const juce::File& file)
{
    const auto path = file.getFullPathName();

    if (path.isEmpty())
        return;

    // Others may keep the file open, even write to it: the transfer notices a
    // size that changes under it. A folder cannot be opened without
    // FILE_FLAG_BACKUP_SEMANTICS, so it fails here like a missing file.
    const auto h = ::CreateFileW (path.toWideCharPointer(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return;

    LARGE_INTEGER fileSize {};

    // Named pipes and devices are no update files.
    if (::GetFileType (h) != FILE_TYPE_DISK || ! ::GetFileSizeEx (h, &fileSize))
    {
        ::CloseHandle (h);
        return;
    }

    handle = (juce::pointer_sized_int) h;
    size = (juce::int64) fileSize.QuadPart;
}

RegularFileReader::~RegularFileReader()
{
    if (isOpen())
        ::CloseHandle ((HANDLE) handle);
}

int RegularFileReader::read (void* destination, int numBytes) noexcept
{
    if (! isOpen() || numBytes < 0)
        return -1;

    auto* out = static_cast<char*> (destination);
    int done = 0;

    while (done < numBytes)
    {
        DWORD n = 0;

        if (! ::ReadFile ((HANDLE) handle, out + done, (DWORD) (numBytes - done), &n, nullptr))
            return -1;

        if (n == 0)
            break;

        done += (int) n;
    }

    return done;
}

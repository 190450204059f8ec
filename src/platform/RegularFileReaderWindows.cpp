#include "platform/RegularFileReader.h"

#include "platform/WindowsSystem.h"

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

int RegularFileReader::readSome (char* destination, int numBytes) noexcept
{
    DWORD n = 0;
    return ::ReadFile ((HANDLE) handle, destination, (DWORD) numBytes, &n, nullptr) ? (int) n : -1;
}

#pragma once

// The Windows headers as every Windows seam here wants them: no min/max macros,
// none of the rarely used parts, Winsock 2 before windows.h.
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <functional>
#include <vector>

/** Winsock started for as long as this lives, and its own start balanced again:
    JUCE starts Winsock only in its own socket classes, and counts separately.
*/
struct WinsockUse
{
    explicit WinsockUse (WORD version = MAKEWORD (2, 2)) noexcept
    {
        WSADATA data;
        started = ::WSAStartup (version, &data) == 0;
    }

    ~WinsockUse()
    {
        if (started)
            ::WSACleanup();
    }

    WinsockUse (const WinsockUse&) = delete;
    WinsockUse& operator= (const WinsockUse&) = delete;

    bool started = false;
};

/** Calls a system query that fills a table of unknown size (GetExtendedTcpTable,
    GetAdaptersAddresses and their kin), growing the buffer as the system asks, a
    few times at most: the table may grow between two calls. False when no call
    succeeded; the buffer then holds nothing to read.
*/
bool readGrowingTable (const std::function<unsigned long (void* table, unsigned long* size)>& query,
                       std::vector<char>& table);

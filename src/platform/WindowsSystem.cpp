#include "platform/WindowsSystem.h"

bool readGrowingTable (const std::function<unsigned long (void*, unsigned long*)>& query, std::vector<char>& table)
{
    unsigned long size = 0;

    for (int attempt = 0; attempt < 4; ++attempt)
    {
        table.resize (size);
        const auto result = query (table.empty() ? nullptr : table.data(), &size);

        if (result == NO_ERROR)
            return true;

        // The two answers of "too small" that the table queries give.
        if (result != ERROR_INSUFFICIENT_BUFFER && result != ERROR_BUFFER_OVERFLOW)
            break;
    }

    table.clear();
    return false;
}

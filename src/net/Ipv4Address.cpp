#include "net/Ipv4Address.h"

namespace ipv4
{
bool parse (const juce::String& dotted, std::uint32_t& address)
{
    const auto parts = juce::StringArray::fromTokens (dotted, ".", "");

    if (parts.size() != 4)
        return false;

    std::uint32_t result = 0;

    for (auto& part : parts)
    {
        // "010" reads as 8 in some parsers and as 10 in others: neither guess is made.
        if (part.isEmpty() || part.length() > 3 || ! part.containsOnly ("0123456789")
            || (part.length() > 1 && part[0] == '0') || part.getIntValue() > 255)
            return false;

        result = (result << 8) | (std::uint32_t) part.getIntValue();
    }

    address = result;
    return true;
}
} // namespace ipv4

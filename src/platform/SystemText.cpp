#include "platform/SystemText.h"

#include <cstring>
#include <string>

namespace
{
    // A kept byte b becomes U+EF00 + b, encoded EE BE..BF 80..BF.
    constexpr unsigned char keptLead = 0xee;
    constexpr unsigned char keptSecondLow = 0xbe;

    bool isKept (const unsigned char* p) noexcept
    {
        return p[0] == keptLead && p[1] >= keptSecondLow && p[1] <= 0xbf;
    }

    // Length of the well-formed UTF-8 sequence at p, or 0. The text ends in a
    // zero, which is no continuation byte, so no check reads beyond it.
    int sequenceLength (const unsigned char* p) noexcept
    {
        const auto lead = p[0];

        if (lead < 0x80)
            return 1;

        int length = 0;
        unsigned char low = 0x80, high = 0xbf; // where the second byte may lie

        if (lead >= 0xc2 && lead <= 0xdf)
            length = 2;
        else if (lead >= 0xe0 && lead <= 0xef)
        {
            length = 3;
            low = lead == 0xe0 ? 0xa0 : low;   // overlong
            high = lead == 0xed ? 0x9f : high; // surrogates
        }
        else if (lead >= 0xf0 && lead <= 0xf4)
        {
            length = 4;
            low = lead == 0xf0 ? 0x90 : low;   // overlong
            high = lead == 0xf4 ? 0x8f : high; // beyond U+10FFFF
        }
        else
            return 0;

        if (p[1] < low || p[1] > high)
            return 0;

        for (int i = 2; i < length; ++i)
            if ((p[i] & 0xc0) != 0x80)
                return 0;

        return length;
    }

    // Each kept byte of valid UTF-8 text through `change`, the rest as it stands.
    template <typename Change>
    std::string mapKeptBytes (const juce::String& text, Change change)
    {
        const auto* p = reinterpret_cast<const unsigned char*> (text.toRawUTF8());
        std::string result;
        result.reserve (std::strlen (reinterpret_cast<const char*> (p)));

        while (*p != 0)
        {
            if (isKept (p))
            {
                change (result, (unsigned char) (0x80 + ((p[1] - keptSecondLow) << 6) + (p[2] & 0x3f)));
                p += 3;
            }
            else
                result += (char) *p++;
        }

        return result;
    }
}

namespace systemtext
{
bool isWellFormed (const char* text) noexcept
{
    for (auto* p = reinterpret_cast<const unsigned char*> (text); *p != 0;)
    {
        const auto n = sequenceLength (p);

        if (n == 0)
            return false;

        p += n;
    }

    return true;
}

juce::String fromBytes (const char* bytes)
{
    if (bytes == nullptr)
        return {};

    const auto* p = reinterpret_cast<const unsigned char*> (bytes);
    std::string clean;
    clean.reserve (std::strlen (bytes));

    while (*p != 0)
    {
        const auto n = sequenceLength (p);

        // A name that really holds a kept code point is kept byte by byte
        // too, or it would come back from toBytes() as another name.
        if (n > 0 && ! (n == 3 && isKept (p)))
        {
            clean.append (reinterpret_cast<const char*> (p), (size_t) n);
            p += n;
            continue;
        }

        const auto codePoint = 0xef00u + *p++;
        clean += (char) (0xe0 | (codePoint >> 12));
        clean += (char) (0x80 | ((codePoint >> 6) & 0x3f));
        clean += (char) (0x80 | (codePoint & 0x3f));
    }

    return juce::String::fromUTF8 (clean.data(), (int) clean.size());
}

std::string toBytes (const juce::String& text)
{
    return mapKeptBytes (text, [] (std::string& out, unsigned char byte) { out += (char) byte; });
}

juce::String forDisplay (const juce::String& text)
{
    const auto shown = mapKeptBytes (text, [] (std::string& out, unsigned char) { out += "\xef\xbf\xbd"; });
    return juce::String::fromUTF8 (shown.data(), (int) shown.size());
}

juce::String readable (const std::string& bytes)
{
    return forDisplay (fromBytes (bytes.c_str()));
}

juce::String readFile (const juce::File& file)
{
    juce::FileInputStream in (file);
    juce::MemoryBlock data;

    if (in.openedOk())
        in.readIntoMemoryBlock (data);

    return readable (std::string (static_cast<const char*> (data.getData()), data.getSize()));
}

} // namespace systemtext

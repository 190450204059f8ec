#include "cli/JsonLine.h"

JsonLine& JsonLine::add (const char* key, const juce::String& value)
{
    return addRaw (key, quoted (value));
}

JsonLine& JsonLine::add (const char* key, juce::int64 value)
{
    return addRaw (key, juce::String (value));
}

JsonLine& JsonLine::add (const char* key, double value, int decimals)
{
    return addRaw (key, juce::String (value, decimals));
}

JsonLine& JsonLine::add (const char* key, bool value)
{
    return addRaw (key, value ? "true" : "false");
}

JsonLine& JsonLine::add (const char* key, const std::vector<JsonLine>& objects)
{
    juce::StringArray items;

    for (auto& o : objects)
        items.add (o.toString());

    return addRaw (key, "[" + items.joinIntoString (", ") + "]");
}

JsonLine& JsonLine::addNull (const char* key)
{
    return addRaw (key, "null");
}

JsonLine& JsonLine::addRaw (const char* key, const juce::String& json)
{
    fields.add (quoted (key) + ": " + json);
    return *this;
}

juce::String JsonLine::quoted (const juce::String& text)
{
    juce::String out ("\"");
    out.preallocateBytes (text.getNumBytesAsUTF8() + 2);

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (c == '"' || c == '\\')
            out << '\\' << juce::String::charToString (c);
        else if (c == '\n')
            out << "\\n";
        else if (c == '\t')
            out << "\\t";
        else if (c < 0x20)
            out << "\\u00" << juce::String::toHexString ((int) c).paddedLeft ('0', 2);
        else
            out << juce::String::charToString (c);
    }

    return out + "\"";
}

#pragma once

#include <juce_core/juce_core.h>

/** One JSON object on one line, for scripts: fields in the order added, and
    every string escaped so that any JSON parser reads it (JUCE's own writer
    emits escapes such as \a that parsers refuse). File names on Linux may hold
    any control character, so the escaping matters.
*/
class JsonLine final
{
public:
    JsonLine& add (const char* key, const juce::String& value);
    JsonLine& add (const char* key, juce::int64 value);
    JsonLine& add (const char* key, int value) { return add (key, (juce::int64) value); }

    /** Written with the given number of decimals. */
    JsonLine& add (const char* key, double value, int decimals);

    /** null: the fact is unknown, e.g. the size of a file that is not there. */
    JsonLine& addNull (const char* key);

    /** The object, without a line end. */
    juce::String toString() const { return "{" + fields.joinIntoString (", ") + "}"; }

    static juce::String quoted (const juce::String& text);

private:
    JsonLine& addRaw (const char* key, const juce::String& json);

    juce::StringArray fields;
};

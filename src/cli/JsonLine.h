#pragma once

#include <vector>

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

    JsonLine& add (const char* key, const char* value) { return add (key, juce::String (value)); }
    JsonLine& add (const char* key, bool value);

    /** An array of objects. */
    JsonLine& add (const char* key, const std::vector<JsonLine>& objects);

    /** null: the fact is unknown, e.g. the size of a file that is not there. */
    JsonLine& addNull (const char* key);

    /** The string, or null when it is empty. */
    JsonLine& addOrNull (const char* key, const juce::String& value) { return value.isEmpty() ? addNull (key) : add (key, value); }

    /** The object, without a line end. */
    juce::String toString() const { return "{" + fields.joinIntoString (", ") + "}"; }

    static juce::String quoted (const juce::String& text);

private:
    JsonLine& addRaw (const char* key, const juce::String& json);

    juce::StringArray fields;
};

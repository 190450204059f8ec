#pragma once

#include <juce_core/juce_core.h>

/** One finding of qvr-update's network check: what was looked at, how it
    stands, what was seen, and for a warning or a block the one thing to do.
    Made by the system seams that look (interfaces, ports, firewall) and
    gathered into the checklist.
*/
struct CheckLine
{
    enum Status
    {
        ok,
        warning,
        blocking,
        unchecked   // the system would not tell: `detail` says why
    };

    Status status = ok;
    juce::String check, detail, fix;

    /** Bytes the system hands over (a program's output, an interface's or a
        process's name) as text: JUCE's own UTF-8 reading overruns its buffer on
        malformed input, so anything but valid UTF-8 keeps its ASCII and shows
        the rest as U+FFFD.
    */
    static juce::String fromSystem (const char* bytes, size_t size)
    {
        if (juce::CharPointer_UTF8::isValidString (bytes, (int) size))
            return juce::String::fromUTF8 (bytes, (int) size);

        juce::String text;

        for (size_t i = 0; i < size; ++i)
            text << ((unsigned char) bytes[i] < 0x80 ? juce::String::charToString ((juce::juce_wchar) bytes[i])
                                                    : juce::String::charToString ((juce::juce_wchar) 0xfffd));

        return text;
    }

    static juce::String fromSystem (const std::string& bytes) { return fromSystem (bytes.data(), bytes.size()); }

    /** A file's text, read to its end whatever size it claims (as /proc's do). */
    static juce::String readFile (const juce::File& file)
    {
        juce::FileInputStream in (file);
        juce::MemoryBlock data;

        if (in.openedOk())
            in.readIntoMemoryBlock (data);

        return fromSystem (static_cast<const char*> (data.getData()), data.getSize());
    }
};

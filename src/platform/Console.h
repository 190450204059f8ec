#pragma once

#include <juce_core/juce_core.h>

/** The terminal side of the command-line updater, where Windows and POSIX
    differ: the arguments as the user typed them (UTF-16 on Windows, so file
    names in any script arrive intact), whether a stream is a terminal, and
    text out in any script (a Windows console takes UTF-16, files and pipes get
    UTF-8).
*/
namespace console
{
    /** The arguments after the program's name. */
    juce::StringArray arguments (int argc, char** argv);

    bool isTerminal (bool errorStream);

    /** Writes the text as it stands (no line end is added) and flushes. */
    void write (const juce::String& text, bool errorStream);
}

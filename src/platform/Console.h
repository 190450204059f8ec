#pragma once

#include <atomic>

#include <juce_core/juce_core.h>

/** The terminal side of the command-line updater, where Windows and POSIX
    differ: signals and console events, the arguments as the user typed them
    (UTF-16 on Windows, so file names in any script arrive intact), whether a
    stream is a terminal, text out in any script (a Windows console takes
    UTF-16, files and pipes get UTF-8), and what stands at a path.
*/
namespace console
{
    /** First thing in main(). Ctrl-C and SIGTERM (on Windows: Ctrl-C, Ctrl-Break
        and closing the console) set the flag. A terminal or a reader that goes
        away (SIGHUP, SIGPIPE) stops nothing: a transfer that has begun must not
        be cut off by its output. Closed standard streams are reopened on the
        null device, so that no socket or file takes their place and our text.
    */
    void setUp (std::atomic<bool>& interruptRequested);

    /** The arguments after the program's name. */
    juce::StringArray arguments (int argc, char** argv);

    /** Standard output carries results (with --json, the result line alone); standard error the rest. */
    enum class Stream
    {
        out,
        err
    };

    bool isTerminal (Stream stream);

    /** Writes the text as it stands (no line end is added) and flushes. Once a
        write fails nobody reads that stream any more, and later text is dropped.
    */
    void write (Stream stream, const juce::String& text);

    /** What stands at a path, told without opening it: opening a FIFO waits for a writer. */
    struct PathFacts
    {
        enum Kind
        {
            missing,
            folder,
            regularFile,
            special,    // a FIFO, a device or a socket
            unknown     // e.g. a folder on the way that we may not look into
        };

        Kind kind = missing;
        juce::int64 size = 0;
    };

    PathFacts lookAt (const juce::File& path);
}

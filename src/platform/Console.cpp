#include "platform/Console.h"

#include <cstdio>

#include <unistd.h>

namespace console
{
juce::StringArray arguments (int argc, char** argv)
{
    juce::StringArray result;

    for (int i = 1; i < argc; ++i)
        result.add (juce::String::fromUTF8 (argv[i]));

    return result;
}

bool isTerminal (bool errorStream)
{
    return ::isatty (errorStream ? STDERR_FILENO : STDOUT_FILENO) == 1;
}

void write (const juce::String& text, bool errorStream)
{
    auto* stream = errorStream ? stderr : stdout;
    std::fputs (text.toRawUTF8(), stream);
    std::fflush (stream);
}
} // namespace console

#include "platform/SystemText.h"

// Windows hands over UTF-16, which JUCE converts safely.
namespace systemtext
{
juce::File executableFile()
{
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile);
}

juce::File workingDirectory()
{
    return juce::File::getCurrentWorkingDirectory();
}

void makeProcessTextSafe()
{
}
} // namespace systemtext

#include "net/MixerLinkSettings.h"

std::unique_ptr<UpdateEnvironment> MixerLinkSettings::checkEnvironment (juce::Thread& worker) const
{
    return std::make_unique<UpdateEnvironment> (updateFile, interfaces, [&worker] { return worker.threadShouldExit(); });
}

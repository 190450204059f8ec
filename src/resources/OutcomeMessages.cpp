#include "resources/OutcomeMessages.h"

#include "resources/TxtLoader.h"

namespace outcomes
{
juce::String messageFor (int stage, int result)
{
    auto* txt = TxtLoader::getInstance();
    return result == 0 ? txt->getString (10).trim() : txt->getString (messageIdFor (stage, result));
}
} // namespace outcomes

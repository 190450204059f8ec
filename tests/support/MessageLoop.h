#pragma once

#include <functional>

#include <juce_events/juce_events.h>

/** Runs the message loop until the condition holds; false after timeoutMs. */
inline bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 2000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= end)
            return false;

        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }

    return true;
}

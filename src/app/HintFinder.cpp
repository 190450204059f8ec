#include "app/HintFinder.h"

HintFinder::HintFinder (Check checkToRun, int portAnnounced)
    : juce::Thread ("QVR7000_UPDATE"),
      check (std::move (checkToRun)),
      port (portAnnounced)
{
}

HintFinder::~HintFinder()
{
    // The check looks at the flag between its steps and ends a program it
    // waits on, so this wait is short.
    stopThread (-1);
}

void HintFinder::look()
{
    if (! isThreadRunning())
        startThread();
}

void HintFinder::cancel()
{
    signalThreadShouldExit();
    const std::lock_guard<std::mutex> guard (lock);
    found.reset();
}

std::optional<NetworkHint> HintFinder::takeHint()
{
    const std::lock_guard<std::mutex> guard (lock);
    return std::exchange (found, std::nullopt);
}

void HintFinder::run()
{
    const auto findings = check ([this] { return threadShouldExit(); });
    const auto hint = NetworkHint::from (findings, port);
    const std::lock_guard<std::mutex> guard (lock);

    if (! threadShouldExit())
        found = hint;
}

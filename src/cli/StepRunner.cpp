#include "cli/StepRunner.h"

StepRunner::StepRunner (std::vector<std::pair<int, Step>> s)
    : juce::Thread ("QVR7000_UPDATE"),
      steps (std::move (s))
{
}

StepRunner::~StepRunner()
{
    stopThread (-1);
}

void StepRunner::stop()
{
    signalThreadShouldExit();
    notify();
}

void StepRunner::run()
{
    int outcome = 0;

    for (auto& [stageOfStep, step] : steps)
    {
        if (outcome != 0 || threadShouldExit())
            break;

        stage = stageOfStep;
        outcome = step (*this);
    }

    result = threadShouldExit() ? -1 : outcome;
    done.signal();
}

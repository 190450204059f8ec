#pragma once

#include <juce_core/juce_core.h>

#include "net/SendProgress.h"

/** The worker stages, numbered as the window's phases: the number picks the
    letter of a failure's code (I, C, S) and the text that tells it.
*/
enum UpdateStage
{
    initialiseStage = 1,
    connectStage = 3,
    sendStage = 4
};

/** The work of the three worker phases: initialise, connect, send. Each step
    runs on the workflow's worker thread and returns a status code (0 success,
    1..9 a failure the user sees with the phase's letter). The connect and send
    steps watch the worker for a stop request and sleep on it until something
    happens.

    The workflow owns one of these; tests give it scripted steps.
*/
class WorkerSteps
{
public:
    virtual ~WorkerSteps() = default;

    virtual int runInitialiseStep (juce::Thread& worker) = 0;
    virtual int runConnectStep (juce::Thread& worker) = 0;
    virtual int runSendStep (juce::Thread& worker) = 0;

    /** May be called on any thread. */
    virtual SendProgress getSendProgress() const = 0;
};

#pragma once

#include <juce_core/juce_core.h>

/** How far the transfer has got: bytes of the file sent so far, of how many. */
struct SendProgress
{
    juce::int64 sent = 0, total = 0;

    /** 0..1; 0 while the length is not known yet. */
    double fraction() const noexcept { return total > 0 ? (double) sent / (double) total : 0.0; }
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

    virtual int runInitialiseStep() = 0;
    virtual int runConnectStep (juce::Thread& worker) = 0;
    virtual int runSendStep (juce::Thread& worker) = 0;

    /** May be called on any thread. */
    virtual SendProgress getSendProgress() const = 0;
};

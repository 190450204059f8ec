#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "secondstart/RunningCopy.h"

class MainWindow;
class SecondStartNotice;

/** The program: one instance at a time, one window, which ends it when the
    workflow quits. A later start with another update file stays only to say so.
*/
class Application final : public juce::JUCEApplication
{
public:
    Application();
    ~Application() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;

private:
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<RunningCopy> secondStarts;
    RunningCopy::Answer runningCopy = RunningCopy::Answer::noneRunning;
    std::unique_ptr<SecondStartNotice> notice;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};

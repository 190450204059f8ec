#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

class MainWindow;
class RaiseRequests;

/** The program: one instance at a time, one window, which ends it when the
    workflow quits.
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
   #if ! defined (_WIN32)
    std::unique_ptr<RaiseRequests> raiseRequests;
   #endif

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};

#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainComponent;

/** The one top-level window: a fixed-size frame around the main component,
    with the tool's emblem as its icon, whose close button ends the workflow
    like Cancel does. Owned by the application.
*/
class MainWindow final : public juce::DocumentWindow
{
public:
    MainWindow();
    ~MainWindow() override;

    void closeButtonPressed() override;
    void parentHierarchyChanged() override;

    MainComponent& getMainComponent() const;

private:
    juce::Image icon;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};

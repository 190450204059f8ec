#include "app/MainWindow.h"

#include "app/MainComponent.h"

MainWindow::MainWindow()
    : juce::DocumentWindow ("QVR7000_UPDATE", juce::Colours::lightgrey,
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true)
{
    // Switching to the native frame rebuilds the peer and re-fits the content to
    // the old outer size; done first, the content keeps its 450 x 200.
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);
    centreWithSize (getWidth(), getHeight());
    setVisible (true);
    getMainComponent().advancePhase();
}

MainWindow::~MainWindow() = default;

void MainWindow::closeButtonPressed()
{
    getMainComponent().abortWorkflow();
}

MainComponent& MainWindow::getMainComponent() const
{
    auto* content = dynamic_cast<MainComponent*> (getContentComponent());
    jassert (content != nullptr);
    return *content;
}

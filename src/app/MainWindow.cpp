#include "app/MainWindow.h"

#include "app/MainComponent.h"
#include "resources/ImageLoader.h"

MainWindow::MainWindow()
    : juce::DocumentWindow ("QVR7000_UPDATE", juce::Colours::lightgrey,
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, true)
{
    // Switching to the native frame rebuilds the peer and re-fits the content to
    // the old outer size; done first, the content keeps its 450 x 200.
    setUsingNativeTitleBar (true);
    setContentOwned (new MainComponent(), true);

    // The keyboard goes to the screen's controls, not to the frame, from the start.
    setWantsKeyboardFocus (false);

    if (auto* emblem = ImageLoader::getInstance()->getImage (0))
        icon = *emblem;

    centreWithSize (getWidth(), getHeight());
    setVisible (true);
    getMainComponent().advancePhase();
}

MainWindow::~MainWindow() = default;

void MainWindow::parentHierarchyChanged()
{
    juce::DocumentWindow::parentHierarchyChanged();

   #if ! defined (_WIN32)
    // The native title bar and the task bar take the icon from the window system's
    // window, which JUCE makes afresh with each new frame. (Windows takes the
    // .exe's own icon, in all its sizes, for the window class.)
    if (auto* peer = getPeer(); peer != nullptr && icon.isValid())
        peer->setIcon (icon);
   #endif
}

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

#include "app/Application.h"

#include "app/MainWindow.h"
#include "platform/ForegroundWindow.h"
#include "platform/RepaintPump.h"

Application::Application() = default;
Application::~Application() = default;

void Application::initialise (const juce::String&)
{
    keepRepaintingWithoutVerticalBlank();
    mainWindow = std::make_unique<MainWindow>();
}

void Application::shutdown()
{
    mainWindow = nullptr;
    stopRepaintingWithoutVerticalBlank();
}

const juce::String Application::getApplicationName()
{
    // Also names the single-instance lock, so it must never change.
    return "QVR7000_UPDATE";
}

const juce::String Application::getApplicationVersion()
{
    return "1.0";
}

bool Application::moreThanOneInstanceAllowed()
{
    // Asked before the single-instance check: a later start may then raise our window.
    allowOtherProcessesToRaiseOurWindow();
    return false;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
        mainWindow->toFront (true);
}

#include "app/Application.h"

#include "app/MainWindow.h"
#include "platform/ForegroundWindow.h"
#include "platform/RepaintPump.h"

#if ! defined (_WIN32)
 #include "platform/RaiseRequests.h"
#endif

Application::Application() = default;
Application::~Application() = default;

void Application::initialise (const juce::String&)
{
    keepRepaintingWithoutVerticalBlank();
   #if ! defined (_WIN32)
    // Listening before the window appears: whoever sees the window can reach us.
    raiseRequests = std::make_unique<RaiseRequests> (RaiseRequests::socketNameFor (getApplicationName()),
                                                     [this] { anotherInstanceStarted ({}); });
    raiseRequests->start();
   #endif

    mainWindow = std::make_unique<MainWindow>();
}

void Application::shutdown()
{
   #if ! defined (_WIN32)
    raiseRequests = nullptr;
   #endif

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

   #if ! defined (_WIN32)
    // JUCE on Linux would end such a start silently; it asks the running copy itself.
    RaiseRequests::askRunningInstance (getApplicationName());
   #endif

    return false;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow != nullptr && mainWindow->isVisible())
    {
        mainWindow->toFront (true);
        raiseAboveOtherWindows (*mainWindow);
    }
}

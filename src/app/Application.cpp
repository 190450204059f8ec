#include "app/Application.h"

#include "app/MainWindow.h"
#include "app/SecondStartNotice.h"
#include "net/UpdateEnvironment.h"
#include "platform/ForegroundWindow.h"
#include "platform/RepaintPump.h"

Application::Application() = default;
Application::~Application() = default;

void Application::initialise (const juce::String&)
{
    keepRepaintingWithoutVerticalBlank();

    if (runningCopy != RaiseRequests::Answer::noneRunning)
    {
        notice = std::make_unique<SecondStartNotice> (runningCopy == RaiseRequests::Answer::otherFile
                                                          ? NoticeText::otherFileRunning
                                                          : NoticeText::runningCopySilent,
                                                      [] { quit(); });
        return;
    }

    // Listening before the window appears: whoever sees the window can reach us.
    raiseRequests = std::make_unique<RaiseRequests> (RaiseRequests::channelNameFor (getApplicationName()),
                                                     UpdateEnvironment::getUpdateFile(),
                                                     [this] { anotherInstanceStarted ({}); });
    raiseRequests->start();

    mainWindow = std::make_unique<MainWindow>();
}

void Application::shutdown()
{
    raiseRequests = nullptr;
    notice = nullptr;
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

    // JUCE would end a later start silently (Linux) or without a word about the
    // file (Windows), and START in the running window would then send its own
    // file, not the one the user just chose.
    runningCopy = RaiseRequests::askRunningInstance (getApplicationName(), UpdateEnvironment::getUpdateFile());

    if (runningCopy == RaiseRequests::Answer::sameFile)
        runningCopy = RaiseRequests::Answer::noneRunning;

    // With the same file JUCE ends this start as before; otherwise it stays,
    // without the lock, just long enough to say so.
    return runningCopy != RaiseRequests::Answer::noneRunning;
}

void Application::anotherInstanceStarted (const juce::String&)
{
    if (mainWindow == nullptr || ! mainWindow->isVisible())
        return;

    mainWindow->toFront (true);
    raiseAboveOtherWindows (*mainWindow);

    // An open box belongs above the window: behind it, the user would see a
    // window that takes no clicks and not the message it waits on.
    if (auto* box = juce::Component::getCurrentlyModalComponent())
    {
        box->toFront (true);
        raiseAboveOtherWindows (*box);
    }

    // The start that asked may show a box of its own, above ours.
    allowOtherProcessesToRaiseOurWindow();
}

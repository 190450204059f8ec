#include "app/Application.h"

#include "app/MainWindow.h"
#include "app/SecondStartNotice.h"
#include "net/UpdateEnvironment.h"
#include "app/ForegroundWindow.h"
#include "app/RepaintPump.h"

Application::Application() = default;
Application::~Application() = default;

void Application::initialise (const juce::String&)
{
    keepRepaintingWithoutVerticalBlank();

    if (runningCopy != RunningCopy::Answer::noneRunning)
    {
        notice = std::make_unique<SecondStartNotice> (runningCopy == RunningCopy::Answer::otherFile
                                                          ? NoticeText::otherFileRunning
                                                          : NoticeText::runningCopySilent,
                                                      [] { quit(); });
        return;
    }

    // Listening before the window appears: whoever sees the window can reach us.
    secondStarts = std::make_unique<RunningCopy> (getApplicationName(), UpdateEnvironment::getUpdateFile(),
                                                  [this] { anotherInstanceStarted ({}); });
    secondStarts->start();

    mainWindow = std::make_unique<MainWindow>();
}

void Application::shutdown()
{
    secondStarts = nullptr;
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
    return QVR_VERSION;
}

bool Application::moreThanOneInstanceAllowed()
{
    // Asked before the single-instance check: a later start may then raise our window.
    allowOtherProcessesToRaiseOurWindow();

    // JUCE would end a later start silently (Linux) or without a word about the
    // file (Windows), and START in the running window would then send its own
    // file, not the one the user just chose.
    runningCopy = RunningCopy::ask (getApplicationName(), UpdateEnvironment::getUpdateFile());

    if (runningCopy == RunningCopy::Answer::sameFile)
        runningCopy = RunningCopy::Answer::noneRunning;

    // With the same file JUCE ends this start as before; otherwise it stays,
    // without the lock, just long enough to say so.
    return runningCopy != RunningCopy::Answer::noneRunning;
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

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

#include "app/PhaseScreen.h"
#include "check/NetworkHint.h"
#include "net/WorkerSteps.h"

class AlineButton;
class BtnLookAndFeel;
class HintFinder;
class FlatProgressBar;
class LangLookAndFeel;
class ScreenLookAndFeel;

/** The main screen and the update workflow behind it: a forward-only sequence
    of phases, each one screen. The initialise, connect and send phases run on
    this component's worker thread; their outcome comes back through the async
    updater and either moves on or ends the program with a message box.

    The keyboard drives it like a wizard: the first button holds the focus
    wherever it is enabled (Return presses it), Escape presses the second
    where that is enabled, Tab goes round the list and the buttons. Screen
    readers hear each new phase's message.

    Owned by the main window; owns its controls, its look-and-feels and the
    worker steps with every network object they make.
*/
class MainComponent final : public juce::Component,
                            private juce::Thread,
                            private juce::AsyncUpdater,
                            private juce::ComboBox::Listener,
                            private juce::Button::Listener,
                            private juce::Timer
{
public:
    enum Phase
    {
        notStarted = -1,
        chooseLanguage = 0,
        initialising = 1,
        confirming = 2,
        connecting = 3,
        sending = 4,
        finished = 5,
        closed = 6
    };

    /** What the workflow needs from outside; anything left empty gets the product's own. */
    struct Services
    {
        std::unique_ptr<WorkerSteps> steps;

        /** Shows a message box and calls back once it is dismissed. */
        std::function<void (const juce::String& message, const juce::String& buttonText,
                            std::function<void()> dismissed)> showMessageBox;

        /** Ends the program. */
        std::function<void()> quit;

        /** Tells screen readers what a new phase says. */
        std::function<void (const juce::String& text)> announce;

        /** Looks at what keeps the mixer from connecting, announcing nothing: all
            but the port while ours listens, or only who holds the port once
            listening failed.
        */
        std::function<std::vector<CheckFinding> (bool portOnly, const std::function<bool()>& shouldStop)> checkNetwork;

        /** How long the waiting screen waits before it first looks at the network, and how often it looks again. */
        int hintAfterMs = 20000, hintEveryMs = 30000;
    };

    MainComponent();
    explicit MainComponent (Services services);
    ~MainComponent() override;

    /** Leaves the present phase for the next one (the first button, a step's success). */
    void advancePhase();

    /** Ends the workflow: stops a running step, shows its outcome, quits. */
    void abortWorkflow();

    /** Puts the present phase's texts on screen in the present language. */
    void refreshTexts();

    int getPhase() const noexcept { return phase.load(); }
    int getResult() const noexcept { return result.load(); }
    bool isWorkerRunning() const { return isThreadRunning(); }
    bool isMessageBoxOpen() const noexcept { return messageBoxOpen; }

    void paint (juce::Graphics& g) override;
    void resized() override;
    bool keyPressed (const juce::KeyPress& key) override;
    void focusGained (juce::Component::FocusChangeType cause) override;

    static constexpr juce::uint32 panelColour = 0xffefebde;

private:
    void run() override;
    void handleAsyncUpdate() override;
    void comboBoxChanged (juce::ComboBox* box) override;
    void buttonClicked (juce::Button* button) override;
    void timerCallback() override;

    void reportPhaseResult (int phaseLeft);
    void showSendProgress();
    void followPhase();
    void followHints();
    void showHint (const NetworkHint& hint);
    void focusFirstButton();
    void requestQuit();

    Services services;
    std::atomic<int> phase { notStarted };
    std::atomic<int> result { 0 };
    bool messageBoxOpen = false;
    double nextLookMs = 0.0;
    std::optional<NetworkHint> shownHint, portHint;

    std::unique_ptr<ScreenLookAndFeel> screenLookAndFeel;
    std::unique_ptr<LangLookAndFeel> langLookAndFeel;
    std::unique_ptr<BtnLookAndFeel> btnLookAndFeel;
    std::unique_ptr<juce::ComboBox> langs;
    std::unique_ptr<juce::Label> messageLabel, hintLabel;
    std::unique_ptr<AlineButton> button1, button2;
    std::unique_ptr<FlatProgressBar> progressBar;
    std::unique_ptr<HintFinder> hints;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};

#include <thread>

#include "WorkflowTestSupport.h"
#include "resources/TxtLoader.h"

using namespace workflowtest;

TEST_F (WorkflowTest, WholeRoadShowsEachPhaseAndRunsWorkerExactlyInWorkerPhases)
{
    for (auto step : { initialiseStep, connectStep, sendStep })
        script->hold[step] = true;

    component->advancePhase();
    ASSERT_EQ (component->getPhase(), MainComponent::chooseLanguage);
    EXPECT_EQ (parent.getName(), "QVR Firmware Downloader");
    EXPECT_EQ (message().getText(), "Please choose a language used.");
    EXPECT_EQ (button1().getButtonText(), "OK");
    EXPECT_EQ (button2().getButtonText(), "Cancel");
    EXPECT_TRUE (langs().isVisible());
    EXPECT_EQ (langs().getSelectedId(), 1);

    struct Expected { int phase; const char* messageStart; const char* first; const char* second; bool firstOn, secondOn; };
    const Expected road[] = {
        { 1, "", "", "", false, false },
        { 2, "This software downloads the firmware for QVR.", "START", "EXIT", true, true },
        { 3, "Waiting from QVR-7000 connection.", "START", "Cancel", false, true },
        { 4, "QVR-7000 Connected.", "START", "Cancel", false, true },
        { 5, "Finish sending the firmware.", "OK", "Cancel", true, false },
    };

    for (const auto& e : road)
    {
        const int from = component->getPhase();

        if (isWorkerPhase (from))
            script->release (from == 1 ? initialiseStep : from == 3 ? connectStep : sendStep);
        else
            click (button1());

        ASSERT_TRUE (reaches (e.phase)) << "from phase " << from;
        pumpFor (20);

        SCOPED_TRACE (e.phase);
        EXPECT_EQ (component->isWorkerRunning(), isWorkerPhase (e.phase));
        EXPECT_TRUE (message().getText().startsWith (e.messageStart)) << message().getText();
        EXPECT_EQ (e.messageStart[0] == 0, message().getText().isEmpty());
        EXPECT_EQ (button1().getButtonText(), e.first);
        EXPECT_EQ (button2().getButtonText(), e.second);
        EXPECT_EQ (button1().isEnabled(), e.firstOn);
        EXPECT_EQ (button2().isEnabled(), e.secondOn);
        EXPECT_FALSE (langs().isVisible());
        EXPECT_EQ (parent.getName(), "QVR Firmware Downloader");
        EXPECT_EQ (component->getBounds(), juce::Rectangle<int> (0, 0, 450, 200));
    }

    EXPECT_EQ (script->calls[initialiseStep], 1);
    EXPECT_EQ (script->calls[connectStep], 1);
    EXPECT_EQ (script->calls[sendStep], 1);

    // A disabled button does nothing; OK on the finished screen quits without a box.
    click (button2());
    EXPECT_EQ (quits, 0);
    click (button1());
    EXPECT_EQ (component->getPhase(), MainComponent::closed);
    EXPECT_EQ (quits, 1);
    EXPECT_TRUE (boxes.empty());
}

TEST_F (WorkflowTest, CancelAndExitOutsideWorkerPhasesQuitWithoutBoxOrWork)
{
    component->advancePhase();
    click (button2());   // Cancel on the language screen
    EXPECT_EQ (component->getPhase(), MainComponent::closed);
    EXPECT_EQ (quits, 1);

    makeComponent (0x0409, {});
    goTo (MainComponent::confirming);
    click (button2());   // EXIT
    EXPECT_EQ (quits, 2);
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (script->calls[connectStep], 0);

    // Late clicks and closes change nothing more.
    component->abortWorkflow();
    click (button1());
    EXPECT_EQ (quits, 2);
}

TEST_F (WorkflowTest, EveryFailureCodeOfEveryWorkerPhaseShowsItsCodeThenQuitsAfterDismissal)
{
    struct PhaseCase { int phase; Step step; const char* suffix; };
    const PhaseCase cases[] = { { 1, initialiseStep, "_I" }, { 3, connectStep, "_C" }, { 4, sendStep, "S" } };

    for (const auto& c : cases)
    {
        for (int code = 1; code <= 9; ++code)
        {
            SCOPED_TRACE (juce::String (c.suffix) + juce::String (code));
            script = std::make_shared<Script>();
            script->outcome[c.step] = code;
            boxes.clear();
            quits = 0;
            makeComponent (0x0409, {});
            goTo (c.phase);
            ASSERT_TRUE (pumpUntil ([&] { return ! boxes.empty(); }));

            const auto& text = boxes.front().message;
            EXPECT_TRUE (text.endsWith (juce::String (code))) << text;
            // Send errors 4..9 read "Send error n"; every other text carries the phase letter.
            if (! (c.phase == 4 && code >= 4))
            {
                EXPECT_TRUE (text.endsWith (juce::String (c.suffix) + juce::String (code))) << text;
            }
            EXPECT_EQ (boxes.front().button, "OK");

            pumpFor (30);
            EXPECT_EQ (quits, 0) << "quit before the box was dismissed";
            EXPECT_EQ (boxes.size(), 1u);
            boxes.front().dismiss();
            EXPECT_EQ (quits, 1);
        }
    }
}

TEST_F (WorkflowTest, CodesOutsideOneToNineEndWithoutBox)
{
    for (int code : { 10, -2, 1000 })
    {
        script = std::make_shared<Script>();
        script->outcome[connectStep] = code;
        quits = 0;
        makeComponent (0x0409, {});
        goTo (MainComponent::connecting);
        ASSERT_TRUE (pumpUntil ([&] { return quits > 0; })) << code;
        EXPECT_TRUE (boxes.empty()) << code;
        EXPECT_EQ (component->getPhase(), MainComponent::closed);
    }
}

TEST_F (WorkflowTest, CancelStopsTheRunningStepAndShowsItsCancelMessage)
{
    const struct { int phase; Step step; const char* text; } cases[] = {
        { 3, connectStep, "Connecting cancel." },
        { 4, sendStep, "Sending cancel." },
    };

    for (const auto& c : cases)
    {
        script = std::make_shared<Script>();
        script->hold[c.step] = true;
        boxes.clear();
        quits = 0;
        makeComponent (0x0409, {});
        goTo (c.phase);
        ASSERT_TRUE (component->isWorkerRunning());

        click (button2());
        EXPECT_TRUE (script->sawStopRequest[c.step]);
        EXPECT_FALSE (component->isWorkerRunning());
        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes.front().message, c.text);

        // The worker's own late report arrives while the box is up: no second box, no early quit.
        pumpFor (50);
        EXPECT_EQ (boxes.size(), 1u);
        EXPECT_EQ (quits, 0);
        boxes.front().dismiss();
        EXPECT_EQ (quits, 1);
    }
}

TEST_F (WorkflowTest, ClosingWhileInitialisingWaitsForTheCheckThenShowsInitializeCancel)
{
    script->hold[initialiseStep] = true;
    goTo (MainComponent::initialising);

    std::thread releaser ([s = script] { juce::Thread::sleep (50); s->release (initialiseStep); });
    component->abortWorkflow();   // blocks until the step is done
    releaser.join();

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes.front().message, "Initialize cancel.");
    EXPECT_EQ (script->calls[initialiseStep], 1);
}

TEST_F (WorkflowTest, OutcomeThatBeatsTheCancelDecides)
{
    // The step has ended and posted its outcome, but the abort comes first.
    for (int outcome : { 0, 5 })
    {
        script = std::make_shared<Script>();
        script->hold[connectStep] = true;
        script->outcome[connectStep] = outcome;
        boxes.clear();
        quits = 0;
        makeComponent (0x0409, {});
        goTo (MainComponent::connecting);

        script->release (connectStep);
        for (int i = 0; i < 500 && component->isWorkerRunning(); ++i)
            juce::Thread::sleep (1);

        component->abortWorkflow();
        pumpFor (30);

        if (outcome == 0)
        {
            EXPECT_TRUE (boxes.empty());
            EXPECT_GE (quits, 1);
        }
        else
        {
            ASSERT_EQ (boxes.size(), 1u);
            EXPECT_EQ (boxes.front().message, "Connect error_C5");
            EXPECT_EQ (quits, 0);
        }

        EXPECT_EQ (script->calls[sendStep], 0);
    }
}

TEST_F (WorkflowTest, CancelRacingTheConnectionShowsCancelOrNothingNeverBoth)
{
    juce::Random random (7000);

    for (int round = 0; round < 30; ++round)
    {
        script = std::make_shared<Script>();
        script->hold[connectStep] = true;
        script->hold[sendStep] = true;
        boxes.clear();
        quits = 0;
        makeComponent (0x0409, {});
        goTo (MainComponent::connecting);

        const int delay = random.nextInt (3);
        std::thread releaser ([s = script, delay] { juce::Thread::sleep (delay); s->release (connectStep); });
        juce::Thread::sleep (1);
        component->abortWorkflow();
        releaser.join();
        pumpFor (20);

        ASSERT_LE (boxes.size(), 1u) << round;
        if (! boxes.empty())
        {
            EXPECT_EQ (boxes.front().message, "Connecting cancel.") << round;
        }
        EXPECT_EQ (component->getPhase(), MainComponent::closed);
        EXPECT_FALSE (component->isWorkerRunning());
        EXPECT_EQ (script->calls[sendStep], 0) << "a send started after the cancel";
    }
}

TEST_F (WorkflowTest, DestroyingTheScreenStopsARunningStep)
{
    script->hold[connectStep] = true;
    goTo (MainComponent::connecting);
    parent.removeChildComponent (component.get());
    component.reset();
    EXPECT_TRUE (script->sawStopRequest[connectStep]);
    EXPECT_TRUE (boxes.empty());
}

TEST_F (WorkflowTest, ProgressBarFollowsTheTransfer)
{
    script->hold[sendStep] = true;
    goTo (MainComponent::sending);
    auto& bar = child<juce::ProgressBar> ("");
    EXPECT_TRUE (bar.isVisible());

    script->sent = 1000000;
    script->total = 4000000;
    EXPECT_TRUE (pumpUntil ([&] { return component->getDisplayedProgress() == 0.25; }, 1000));
    EXPECT_EQ (component->getDisplayedProgressText(), "25 %  1.0 / 4.0 MB  0:03");

    script->sent = 4000000;
    script->release (sendStep);
    ASSERT_TRUE (reaches (MainComponent::finished));
    EXPECT_EQ (component->getDisplayedProgress(), 1.0);
    EXPECT_TRUE (component->getDisplayedProgressText().startsWith ("100 %"));
    EXPECT_TRUE (bar.isVisible());
}

TEST_F (WorkflowTest, LanguageListOffersAvailableLanguagesAndSwitchesEveryText)
{
    EXPECT_EQ (langs().getNumItems(), 1);

    makeComponent (0x0409, { "00000409", "00000411" });
    component->advancePhase();
    ASSERT_EQ (langs().getNumItems(), 2);
    EXPECT_EQ (button1().getFontName(), "Arial");

    langs().setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (TxtLoader::getInstance()->getLanguage(), 1);
    EXPECT_EQ (button1().getFontName(), "MS UI Gothic");
    EXPECT_EQ (button1().getButtonText(), TxtLoader::getInstance()->getString (2));
    EXPECT_NE (button2().getButtonText(), "Cancel");
    EXPECT_NE (message().getText(), "Please choose a language used.");
    EXPECT_TRUE (message().getText().isNotEmpty());
    EXPECT_NE (parent.getName(), "QVR7000_UPDATE");

    langs().setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (message().getText(), "Please choose a language used.");
    EXPECT_EQ (button2().getButtonText(), "Cancel");
    EXPECT_EQ (button1().getFontName(), "Arial");

    // A Japanese start selects Japanese in the list.
    makeComponent (0x0411, { "00000411" });
    component->advancePhase();
    EXPECT_EQ (langs().getSelectedId(), 2);
    EXPECT_EQ (button1().getFontName(), "MS UI Gothic");
}

TEST_F (WorkflowTest, PanelIsFilledAndCarriesTheEmblem)
{
    component->advancePhase();
    auto image = component->createComponentSnapshot (component->getLocalBounds(), false, 1.0f);
    const juce::Colour panel (MainComponent::panelColour);

    EXPECT_EQ (image.getPixelAt (5, 5), panel);
    EXPECT_EQ (image.getPixelAt (449, 100), panel);
    EXPECT_NE (image.getPixelAt (20 + 24, 15 + 24), panel) << "no emblem at (20, 15)";
    EXPECT_EQ (image.getPixelAt (19, 100), panel);

    // Both buttons, caption and all, lie inside the panel.
    for (auto* button : { &button1(), &button2() })
    {
        EXPECT_TRUE (component->getLocalBounds().contains (button->getBounds())) << button->getBounds().toString();
        EXPECT_FALSE (button->getBounds().intersects (langs().getBounds()));
    }
}

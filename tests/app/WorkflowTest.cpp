#include <thread>

#include "WorkflowTestSupport.h"

using namespace workflowtest;

TEST_F (WorkflowTest, WholeRoadShowsEachPhaseAndRunsWorkerExactlyInWorkerPhases)
{
    for (auto step : { initialiseStep, connectStep, sendStep })
        script->hold[step] = true;

    component->advancePhase();
    EXPECT_EQ (parent.getName(), "QVR Firmware Downloader");
    EXPECT_EQ (message().getText(), "Please choose a language used.");
    EXPECT_TRUE (langs().isVisible());

    // The panel carries the emblem at (20, 15) and both buttons whole.
    const auto image = component->createComponentSnapshot (component->getLocalBounds(), false, 1.0f);
    EXPECT_EQ (image.getPixelAt (5, 5), juce::Colour (MainComponent::panelColour));
    EXPECT_NE (image.getPixelAt (20 + 24, 15 + 24), juce::Colour (MainComponent::panelColour));
    EXPECT_TRUE (component->getLocalBounds().contains (button1().getBounds().getUnion (button2().getBounds())));

    // worker: a step runs on the worker thread; bar: the progress bar shows.
    struct Expected { int phase; const char* messageStart; const char* first; const char* second; bool firstOn, secondOn, worker, bar; };
    const Expected road[] = {
        { 1, "", "", "", false, false, true, false },
        { 2, "This software downloads the firmware for QVR.", "START", "EXIT", true, true, false, false },
        { 3, "Waiting from QVR-7000 connection.", "START", "Cancel", false, true, true, false },
        { 4, "QVR-7000 Connected.", "START", "Cancel", false, true, true, true },
        { 5, "Finish sending the firmware.", "OK", "Cancel", true, false, false, true },
    };
    bool inWorker = false;

    for (const auto& e : road)
    {
        const int from = component->getPhase();

        if (inWorker)
            script->hold[from == 1 ? initialiseStep : from == 3 ? connectStep : sendStep] = false;
        else
            click (button1());

        ASSERT_TRUE (pumpUntil ([&] { return component->getPhase() == e.phase; })) << "from phase " << from;
        pumpFor (20);
        inWorker = e.worker;

        SCOPED_TRACE (e.phase);
        EXPECT_EQ (component->isWorkerRunning(), e.worker);
        EXPECT_TRUE (message().getText().startsWith (e.messageStart)) << message().getText();
        EXPECT_EQ (e.messageStart[0] == 0, message().getText().isEmpty());
        EXPECT_EQ (button1().getButtonText(), e.first);
        EXPECT_EQ (button2().getButtonText(), e.second);
        EXPECT_EQ (button1().isEnabled(), e.firstOn);
        EXPECT_EQ (button2().isEnabled(), e.secondOn);
        EXPECT_FALSE (langs().isVisible());
        EXPECT_EQ (parent.getName(), "QVR Firmware Downloader");
        // Screen readers hear each new message, once; phase 1 has none.
        EXPECT_EQ (announced[announced.size() - 1], e.messageStart[0] != 0 ? message().getText() : "Please choose a language used.");

        if (e.phase == MainComponent::sending)
        {
            // The bar follows the link's own counter, in bytes and time left.
            script->sent = 1000000;
            script->total = 4000000;
            EXPECT_TRUE (pumpUntil ([&] { return bar().getProgress() == 0.25; }, 1000));
            EXPECT_EQ (bar().getText(), "25 %  1.0 / 4.0 MB  0:03");

            // A mixer that takes nothing: how long it has waited, not a time left that grows.
            script->secondsWithoutTaking = 7.4;
            EXPECT_TRUE (pumpUntil ([&] { return bar().getText() == "25 %  1.0 / 4.0 MB  waiting 7 s"; }, 1000)) << bar().getText();
            script->secondsWithoutTaking = 0.0;
        }

        // The bar's done part, where the list stood, is on screen only while sending and after.
        const auto shot = component->createComponentSnapshot (component->getLocalBounds(), false, 1.0f);
        EXPECT_EQ (shot.getPixelAt (270, 160) != juce::Colour (MainComponent::panelColour), e.bar);
        script->sent = script->total.load();
    }

    // The finished screen keeps the last figures, with nothing polling the link.
    EXPECT_EQ (bar().getText(), "100 %  4.0 / 4.0 MB  0:00");
    EXPECT_EQ (announced.size(), 5);
    const int reads = script->progressReads;
    pumpFor (300);
    EXPECT_EQ (script->progressReads, reads);

    // Escape presses Cancel only where it is enabled, which it is not here.
    component->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
    pumpFor (20);
    EXPECT_EQ (component->getPhase(), MainComponent::finished);
    EXPECT_EQ (script->calls[initialiseStep] + script->calls[connectStep] + script->calls[sendStep], 3);
}

// How the workflow ends from each phase: the box it shows (none for an empty
// text), and only then, once the box is dismissed, the quit.
TEST_F (WorkflowTest, EveryEndingShowsItsBoxThenQuits)
{
    enum How { failWith, cancel, escape, pressFirst };
    struct Ending { int phase; How how; int code; const char* box; };

    const Ending endings[] {
        { 0, cancel, 0, "" },                       // Cancel on the language screen
        { 0, escape, 0, "" },
        { 2, cancel, 0, "" },                       // EXIT
        { 5, pressFirst, 0, "" },                   // OK after the transfer
        { 3, cancel, 0, "Connecting cancel." },
        { 3, escape, 0, "Connecting cancel." },
        { 4, cancel, 0, "Sending cancel." },
        { 3, failWith, 10, "" },                    // codes no message belongs to
        { 4, failWith, -2, "" },
        // The first and last code of each phase's failures.
        { 1, failWith, 1, "Cannot find the EXE file_I1" },
        { 1, failWith, 9, "Cannot find the Network Interface_I9" },
        { 3, failWith, 1, "Cannot connect the MIXER_C1" },
        { 3, failWith, 9, "Connect error_C9" },
        { 4, failWith, 1, "Cannot find the UpdateFile_S1" },
        { 4, failWith, 9, "Send error 9" },
    };

    for (auto& e : endings)
    {
        SCOPED_TRACE (juce::String ("phase ") + juce::String (e.phase) + " code " + juce::String (e.code));
        restart();
        const auto step = (Step) (e.phase == 1 ? initialiseStep : e.phase == 3 ? connectStep : sendStep);

        if (e.how == failWith)
            script->outcome[step] = e.code;
        else if (e.phase == 3 || e.phase == 4)
            script->hold[step] = true;

        goTo (e.phase);

        if (e.how == cancel)
            click (button2());
        else if (e.how == escape)
            component->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
        else if (e.how == pressFirst)
            click (button1());

        const bool expectBox = e.box[0] != 0;
        ASSERT_TRUE (pumpUntil ([&] { return expectBox ? ! boxes.empty() : quits > 0; }));
        EXPECT_EQ (component->getPhase(), MainComponent::closed);
        EXPECT_FALSE (component->isWorkerRunning());

        if (expectBox)
        {
            // The worker's own late report may arrive while the box is up: no second box, no early
            // quit; and nothing polls the link any more.
            const int reads = script->progressReads;
            pumpFor (60);
            EXPECT_EQ (script->progressReads, reads);
            ASSERT_EQ (boxes.size(), 1u);
            EXPECT_EQ (boxes.front().message, e.box);
            EXPECT_EQ (boxes.front().button, "OK");
            EXPECT_EQ (quits, 0) << "quit before the box was dismissed";
            boxes.front().dismiss();
        }

        EXPECT_EQ (quits, 1);

        // Late clicks and closes ask for nothing more.
        component->abortWorkflow();
        click (button1());
        EXPECT_EQ (quits, 1);
        EXPECT_EQ (boxes.size(), expectBox ? 1u : 0u);
        // A cancel may come before the connect step has begun: then it never does.
        EXPECT_LE (script->calls[connectStep], e.phase >= 3 ? 1 : 0) << "network work outside its phase";
    }
}

TEST_F (WorkflowTest, ClosingWaitsForTheInitialiseCheckAndDestroyingStopsAConnectStep)
{
    script->hold[initialiseStep] = true;
    goTo (MainComponent::initialising);

    std::thread releaser ([s = script] { juce::Thread::sleep (50); s->hold[initialiseStep] = false; });
    component->abortWorkflow();   // blocks until the step is done
    releaser.join();

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes.front().message, "Initialize cancel.");
    EXPECT_EQ (script->calls[initialiseStep], 1);

    restart();
    script->hold[connectStep] = true;
    goTo (MainComponent::connecting);
    component.reset();
    EXPECT_TRUE (script->sawStopRequest);
    EXPECT_TRUE (boxes.empty());
}

TEST_F (WorkflowTest, OutcomeThatBeatsTheCancelDecides)
{
    // The step has ended and posted its outcome, but the abort comes first.
    for (int outcome : { 0, 5 })
    {
        restart();
        script->hold[connectStep] = true;
        script->outcome[connectStep] = outcome;
        goTo (MainComponent::connecting);

        script->hold[connectStep] = false;
        for (int i = 0; i < 500 && component->isWorkerRunning(); ++i)
            juce::Thread::sleep (1);

        component->abortWorkflow();
        pumpFor (30);

        EXPECT_EQ (boxes.size(), outcome == 0 ? 0u : 1u);
        EXPECT_EQ (boxes.empty() ? juce::String() : boxes.front().message, outcome == 0 ? "" : "Connect error_C5");
        EXPECT_EQ (script->calls[sendStep], 0);
    }
}

TEST_F (WorkflowTest, LanguageListOffersAvailableLanguagesAndSwitchesEveryText)
{
    EXPECT_EQ (langs().getNumItems(), 1);

    restart (0x0409, { "00000409", "00000411" });
    component->advancePhase();
    ASSERT_EQ (langs().getNumItems(), 2);

    langs().setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (button1().getFontName(), "MS UI Gothic");
    EXPECT_EQ (button2().getButtonText(), juce::String::fromUTF8 ("中断"));
    EXPECT_EQ (message().getText(), juce::String::fromUTF8 ("ご使用になる言語を選択してください。"));

    langs().setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (message().getText(), "Please choose a language used.");
    EXPECT_EQ (button1().getFontName(), "Arial");

    // A Japanese start selects Japanese in the list.
    restart (0x0411, { "00000411" });
    component->advancePhase();
    EXPECT_EQ (langs().getSelectedId(), 2);
}

// No mixer yet: the waiting screen tells the finding that matters most, in the
// user's language, once per change; it never holds up a mixer that connects.
TEST_F (WorkflowTest, WaitingScreenTellsWhyNoMixerComesAndLetsTheMixerIn)
{
    const auto firewall = "The firewall (nftables) keeps the mixer out. To let it in:\nsudo nft insert rule inet filter input tcp dport 54000 accept";
    script->hold[connectStep] = true;
    script->find ({ { CheckFinding::warning, "interface wg0", "...", "...", CheckFinding::Kind::tunnel, "wg0" },
                    { CheckFinding::blocking, "firewall nftables", "...", "sudo nft insert rule inet filter input tcp dport 54000 accept",
                      CheckFinding::Kind::firewallBlocks, "nftables" } });
    goTo (MainComponent::connecting);
    ASSERT_TRUE (pumpUntil ([&] { return hint().getText() == firewall; })) << hint().getText();
    EXPECT_TRUE (hint().isVisible());
    EXPECT_TRUE (component->getDescription().endsWith (firewall));

    // The same finding again is not said again; another one is.
    ASSERT_TRUE (pumpUntil ([&] { return script->looks >= 3; }));
    EXPECT_EQ (announced.size(), 4);
    script->find ({});
    ASSERT_TRUE (pumpUntil ([&] { return hint().getText().startsWith ("No mixer yet? It must be on the same network"); }));
    EXPECT_EQ (announced[4], hint().getText());

    // A mixer comes while a look runs: the transfer starts at once, and nothing of the hint stays.
    script->holdLook = true;
    const int looks = script->looks;
    ASSERT_TRUE (pumpUntil ([&] { return script->looks > looks; }));
    // The send step held too, or the phase may pass through sending between two looks at it.
    script->hold[sendStep] = true;
    script->hold[connectStep] = false;
    // The look stays held for 5 s: 2 s leave room for a slowed build, not for waiting on it.
    EXPECT_TRUE (pumpUntil ([&] { return component->getPhase() == MainComponent::sending; }));
    EXPECT_FALSE (hint().isVisible());
    EXPECT_EQ (component->getDescription(), message().getText());
}

// Every hint fits its two lines of the window in both languages, in the fonts
// they are drawn in, with the longest names and commands the check gives.
TEST_F (WorkflowTest, EveryHintFitsTwoLinesInBothLanguages)
{
    restart (0x0409, { "00000409", "00000411" });
    goTo (MainComponent::confirming);

    // As the command on a line of its own at full width, or as one text squeezed a little.
    const auto fits = [&] (const juce::String& text, float scale)
    {
        juce::GlyphArrangement laid;
        laid.addFittedText (message().getFont(), text, 0.0f, 0.0f, 350.0f, 34.0f, juce::Justification::topLeft, 2, scale);
        juce::String drawn;

        for (auto& glyph : laid)
            drawn << juce::String::charToString (glyph.getCharacter());

        return drawn.removeCharacters (" \n") == text.removeCharacters (" \n") && laid.getBoundingBox (0, -1, true).getBottom() <= 34.0f;
    };

    for (int language = 0; language < 2; ++language)
    {
        TxtLoader::getInstance()->setLanguage (language);
        component->refreshTexts();

        for (int kind = 0; kind <= (int) CheckFinding::Kind::windowsFirewallAsks; ++kind)
            for (const auto status : { CheckFinding::blocking, CheckFinding::warning })
            {
                const NetworkHint h { (CheckFinding::Kind) kind, status, kind >= (int) CheckFinding::Kind::windowsFirewallBlocks ? "Public" : "tailscale0",
                                      "sudo firewall-cmd --zone=public --add-service=qvr-updater", 54000 };
                const auto text = h.text (language);
                EXPECT_TRUE (fits (text, 1.0f) || fits (text.replace ("\n", " "), 0.7f)) << language << " " << kind << " " << text;
            }
    }
}

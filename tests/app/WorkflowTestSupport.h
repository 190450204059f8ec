#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/MainComponent.h"
#include "appearance/AlineButton.h"
#include "appearance/FlatProgressBar.h"
#include "support/MessageLoop.h"
#include "support/TestLanguageSource.h"

namespace workflowtest
{
    /** Runs the message loop for a while, for events that must not come. */
    inline void pumpFor (int ms)
    {
        pumpUntil ([] { return false; }, ms);
    }

    /** What the scripted steps do; shared between the test and the steps the component owns. */
    struct Script
    {
        std::atomic<int> outcome[3] {}, calls[3] {};     // initialise, connect, send
        std::atomic<bool> hold[3] {}, sawStopRequest { false };
        std::atomic<juce::int64> sent { 0 }, total { 0 };
        std::atomic<double> secondsWithoutTaking { 0.0 };

        // What the network check finds, and a hold that keeps a look running until it is stopped.
        std::mutex findingsLock;
        std::vector<CheckFinding> findings, portFindings;
        std::atomic<int> looks { 0 };
        std::atomic<bool> holdLook { false };

        void find (std::vector<CheckFinding> f)
        {
            const std::lock_guard<std::mutex> guard (findingsLock);
            findings = std::move (f);
        }
        std::atomic<int> progressReads { 0 };
    };

    enum Step { initialiseStep = 0, connectStep = 1, sendStep = 2 };

    /** Worker steps that do what the script says. A held step waits until the
        test clears its hold; a held connect or send step also ends at a stop
        request, like the real ones, while the initialise step ignores it, like
        the real one.
    */
    class ScriptedSteps final : public WorkerSteps
    {
    public:
        explicit ScriptedSteps (std::shared_ptr<Script> s) : script (std::move (s)) {}

        int runInitialiseStep (juce::Thread& worker) override { return run (initialiseStep, worker); }
        int runConnectStep (juce::Thread& worker) override { return run (connectStep, worker); }
        int runSendStep (juce::Thread& worker) override { return run (sendStep, worker); }
        SendProgress getSendProgress() const override
        {
            ++script->progressReads;
            return { script->sent, script->total, 0.0, script->secondsWithoutTaking };
        }

    private:
        int run (int step, juce::Thread& worker)
        {
            ++script->calls[step];

            for (int i = 0; script->hold[step] && i < 500; ++i)
            {
                if (step != initialiseStep && worker.threadShouldExit())
                {
                    script->sawStopRequest = true;
                    return -1;
                }

                worker.wait (10);
            }

            return script->outcome[step];
        }

        std::shared_ptr<Script> script;
    };

    struct Box
    {
        juce::String message, button;
        std::function<void()> dismiss;
    };

    /** A main component inside a plain parent (which takes the title), with
        scripted steps, recorded message boxes and a quit counter.
    */
    class WorkflowTest : public ::testing::Test
    {
    protected:
        void SetUp() override { restart(); }

        void TearDown() override
        {
            component.reset();
            TxtLoader::deleteInstance();
            TxtLoader::setLanguageSource (nullptr);
        }

        /** A new screen with a new script: nothing shown, nothing quit yet. */
        void restart (int languageId = 0x0409, std::vector<std::string> locales = {})
        {
            component.reset();
            script = std::make_shared<Script>();
            boxes.clear();
            announced.clear();
            quits = 0;
            freshTxtLoader (languageId, std::move (locales));

            MainComponent::Services services;
            services.steps = std::make_unique<ScriptedSteps> (script);
            services.showMessageBox = [this] (const juce::String& message, const juce::String& button, std::function<void()> dismissed)
            {
                boxes.push_back ({ message, button, std::move (dismissed) });
            };
            services.quit = [this] { ++quits; };
            services.announce = [this] (const juce::String& text) { announced.add (text); };
            services.checkNetwork = [s = script] (bool portOnly, const std::function<bool()>& shouldStop)
            {
                ++s->looks;

                for (int i = 0; s->holdLook && ! shouldStop() && i < 500; ++i)
                    juce::Thread::sleep (10);

                const std::lock_guard<std::mutex> guard (s->findingsLock);
                return portOnly ? s->portFindings : s->findings;
            };
            services.hintAfterMs = 30;
            services.hintEveryMs = 60;

            component = std::make_unique<MainComponent> (std::move (services));
            parent.addAndMakeVisible (*component);
        }

        template <typename ComponentType>
        ComponentType& child (const juce::String& name)
        {
            for (auto* c : component->getChildren())
                if (auto* typed = dynamic_cast<ComponentType*> (c); typed != nullptr && c->getName() == name)
                    return *typed;

            throw std::runtime_error ("no child " + name.toStdString());   // gtest fails the test
        }

        AlineButton& button1() { return child<AlineButton> ("button1"); }
        AlineButton& button2() { return child<AlineButton> ("button2"); }
        juce::ComboBox& langs() { return child<juce::ComboBox> ("langs"); }
        juce::Label& message() { return child<juce::Label> ("Message Label"); }
        juce::Label& hint() { return child<juce::Label> ("Hint Label"); }
        FlatProgressBar& bar() { return child<FlatProgressBar> ("progress"); }

        /** A click through the button's own message, as the framework delivers one. */
        void click (juce::Button& button)
        {
            button.triggerClick();
            pumpFor (20);
        }

        /** From construction to the given phase, every unheld step succeeding at
            once. Stops early where a step fails on the way (the phase is then closed).
        */
        void goTo (int target)
        {
            component->advancePhase();

            while (component->getPhase() < target)
            {
                const int from = component->getPhase();

                if (from == MainComponent::chooseLanguage || from == MainComponent::confirming)
                    click (button1());

                ASSERT_TRUE (pumpUntil ([&] { return component->getPhase() > from; })) << "stuck in phase " << from;
            }
        }

        juce::Component parent;
        std::shared_ptr<Script> script;
        std::unique_ptr<MainComponent> component;
        std::vector<Box> boxes;
        juce::StringArray announced;
        int quits = 0;
    };
} // namespace workflowtest

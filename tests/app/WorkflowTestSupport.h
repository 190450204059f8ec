#pragma once

#include <atomic>
#include <memory>
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
        std::atomic<int> outcome[3] { { 0 }, { 0 }, { 0 } };     // initialise, connect, send
        std::atomic<bool> hold[3] { { false }, { false }, { false } };
        std::atomic<int> calls[3] { { 0 }, { 0 }, { 0 } };
        std::atomic<bool> sawStopRequest[3] { { false }, { false }, { false } };
        std::atomic<juce::int64> sent { 0 }, total { 0 };
        std::atomic<int> progressReads { 0 };
        juce::WaitableEvent released[3] { juce::WaitableEvent (true), juce::WaitableEvent (true), juce::WaitableEvent (true) };

        void release (int step) { released[step].signal(); }
    };

    enum Step { initialiseStep = 0, connectStep = 1, sendStep = 2 };

    /** Worker steps that do what the script says. A held connect or send step
        waits for release or a stop request, like the real ones; a held
        initialise step ignores stop requests, like the real one.
    */
    class ScriptedSteps final : public WorkerSteps
    {
    public:
        explicit ScriptedSteps (std::shared_ptr<Script> s) : script (std::move (s)) {}

        int runInitialiseStep (juce::Thread&) override
        {
            ++script->calls[initialiseStep];

            if (script->hold[initialiseStep])
                script->released[initialiseStep].wait (5000);

            return script->outcome[initialiseStep];
        }

        int runConnectStep (juce::Thread& worker) override { return waitingStep (connectStep, worker); }
        int runSendStep (juce::Thread& worker) override { return waitingStep (sendStep, worker); }
        SendProgress getSendProgress() const override
        {
            ++script->progressReads;
            return { script->sent, script->total };
        }

    private:
        int waitingStep (int step, juce::Thread& worker)
        {
            ++script->calls[step];

            for (int i = 0; script->hold[step] && i < 500; ++i)
            {
                if (worker.threadShouldExit())
                {
                    script->sawStopRequest[step] = true;
                    return -1;
                }

                if (script->released[step].wait (0))
                    break;

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
        void SetUp() override { makeComponent (0x0409, {}); }

        void TearDown() override
        {
            if (component != nullptr)
                parent.removeChildComponent (component.get());

            component.reset();
            TxtLoader::deleteInstance();
            TxtLoader::setLanguageSource (nullptr);
        }

        /** A new screen with a new script: nothing shown, nothing quit yet. */
        void restart (int languageId = 0x0409, std::vector<std::string> locales = {})
        {
            script = std::make_shared<Script>();
            boxes.clear();
            announced.clear();
            quits = 0;
            makeComponent (languageId, std::move (locales));
        }

        void makeComponent (int languageId, std::vector<std::string> locales)
        {
            component.reset();
            TxtLoader::deleteInstance();
            TxtLoader::setLanguageSource (std::make_unique<TestLanguageSource> (languageId, std::move (locales)));

            MainComponent::Services services;
            services.steps = std::make_unique<ScriptedSteps> (script);
            services.showMessageBox = [this] (const juce::String& message, const juce::String& button, std::function<void()> dismissed)
            {
                boxes.push_back ({ message, button, std::move (dismissed) });
            };
            services.quit = [this] { ++quits; };
            services.announce = [this] (const juce::String& text) { announced.add (text); };

            component = std::make_unique<MainComponent> (std::move (services));
            parent.addAndMakeVisible (*component);
        }

        template <typename ComponentType>
        ComponentType& child (const juce::String& name)
        {
            for (auto* c : component->getChildren())
                if (c->getName() == name)
                    if (auto* typed = dynamic_cast<ComponentType*> (c))
                        return *typed;

            ADD_FAILURE() << "no child " << name;
            throw std::runtime_error ("missing child");
        }

        AlineButton& button1() { return child<AlineButton> ("button1"); }
        AlineButton& button2() { return child<AlineButton> ("button2"); }
        juce::ComboBox& langs() { return child<juce::ComboBox> ("langs"); }
        juce::Label& message() { return child<juce::Label> ("Message Label"); }
        FlatProgressBar& bar() { return child<FlatProgressBar> ("progress"); }

        /** A click through the button's own message, as the framework delivers one. */
        void click (juce::Button& button)
        {
            button.triggerClick();
            pumpFor (20);
        }

        bool reaches (int phase, int timeoutMs = 2000)
        {
            return pumpUntil ([&] { return component->getPhase() == phase; }, timeoutMs);
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
        std::shared_ptr<Script> script = std::make_shared<Script>();
        std::unique_ptr<MainComponent> component;
        std::vector<Box> boxes;
        juce::StringArray announced;
        int quits = 0;
    };
} // namespace workflowtest

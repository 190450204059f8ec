#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "net/MixerLinkSettings.h"
#include "net/MixerWait.h"
#include "net/Update.h"
#include "net/WorkerSteps.h"

/** The real worker steps: checks the update file and the interfaces, announces
    and waits for the mixer, then sends the file over the accepted connection.
    Owns every network object it makes; the connection stays open until this is
    destroyed, that is until the program ends. Owned by the main component, or
    by the command-line updater.
*/
class MixerLink final : public WorkerSteps
{
public:
    using Settings = MixerLinkSettings;

    MixerLink();
    explicit MixerLink (Settings settings);
    ~MixerLink() override;

    int runInitialiseStep (juce::Thread& worker) override;
    int runConnectStep (juce::Thread& worker) override;
    int runSendStep (juce::Thread& worker) override;
    SendProgress getSendProgress() const override;

    /** The environment the initialise step found; null before it ran. */
    const UpdateEnvironment* getEnvironment() const noexcept { return environment.get(); }

    /** The connected mixer's IPv4 address; empty until one connected. */
    juce::String getMixerAddress() const;

    /** True once the mixer's TCP has acknowledged the whole file. */
    bool wasDelivered() const noexcept { return delivered.load(); }

    /** SHA-256 of the bytes the send step sent; empty until it ended. Read it
        on the worker's thread or after the worker has ended.
    */
    const juce::String& getSentSha256() const noexcept { return sentSha256; }

private:
    void publishProgress (const Update& transfer);

    const Settings settings;
    std::unique_ptr<UpdateEnvironment> environment;
    std::unique_ptr<MixerWait> waiting;
    std::unique_ptr<juce::StreamingSocket> connection;
    std::unique_ptr<Update> transfer;
    std::atomic<juce::int64> bytesTaken { 0 }, totalBytes { 0 };
    std::atomic<double> sendStartedMs { 0.0 }, secondsWithoutTaking { 0.0 };
    std::atomic<bool> delivered { false };
    juce::String sentSha256;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerLink)
};

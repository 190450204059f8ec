#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "net/Broadcast.h"
#include "net/Listener.h"
#include "net/Update.h"
#include "net/UpdateEnvironment.h"
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
    /** Where the steps look and listen; the defaults are the product's. */
    struct Settings
    {
        juce::File updateFile = UpdateEnvironment::getUpdateFile();
        InterfaceSource interfaces = querySystemInterfaces;
        int listenerPort = Listener::defaultPort;     // 0: one the system picks, and that one is announced
        int announcePort = Broadcast::defaultAnnouncePort;

        /** Called on the worker thread once the port listens, before the
            first announcement names it and before the step looks for a peer.
        */
        std::function<void (const Listener&)> onListening;
    };

    MixerLink();
    explicit MixerLink (Settings settings);
    ~MixerLink() override;

    int runInitialiseStep (juce::Thread& worker) override;
    int runConnectStep (juce::Thread& worker) override;
    int runSendStep (juce::Thread& worker) override;
    SendProgress getSendProgress() const override;

    /** The environment the initialise step found; null before it ran. */
    const UpdateEnvironment* getEnvironment() const noexcept { return environment.get(); }

    /** True while a mixer connection is held. */
    bool isConnected() const noexcept { return connection != nullptr; }

    /** The connected mixer's IPv4 address; empty until one connected. */
    juce::String getMixerAddress() const;

    /** True once the mixer's TCP has acknowledged the whole file. */
    bool wasDelivered() const noexcept { return delivered.load(); }

    /** SHA-256 of the bytes the send step sent; empty until it ended. Read it
        on the worker's thread or after the worker has ended.
    */
    const juce::String& getSentSha256() const noexcept { return sentSha256; }

private:
    int endConnect (int status);
    void publishProgress (const Update& transfer);

    const Settings settings;
    std::unique_ptr<UpdateEnvironment> environment;
    std::unique_ptr<Broadcast> broadcaster;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<juce::StreamingSocket> connection;
    std::unique_ptr<Update> transfer;
    std::atomic<juce::int64> bytesTaken { 0 }, totalBytes { 0 };
    std::atomic<double> sendStartedMs { 0.0 };
    std::atomic<bool> delivered { false };
    juce::String sentSha256;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerLink)
};

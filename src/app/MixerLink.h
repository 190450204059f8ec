#pragma once

#include <atomic>
#include <memory>

#include "app/WorkerSteps.h"
#include "net/Broadcast.h"
#include "net/Listener.h"
#include "net/Update.h"
#include "net/UpdateEnvironment.h"

/** The real worker steps: checks the update file and the interfaces, announces
    and waits for the mixer, then sends the file over the accepted connection.
    Owns every network object it makes; the connection stays open until this is
    destroyed, that is until the program ends. Owned by the main component.
*/
class MixerLink final : public WorkerSteps
{
public:
    /** Where the steps look and listen; the defaults are the product's. */
    struct Settings
    {
        juce::File updateFile = UpdateEnvironment::getUpdateFile();
        InterfaceSource interfaces = querySystemInterfaces;
        int listenerPort = Listener::defaultPort;
        int announcePort = Broadcast::defaultAnnouncePort;
    };

    MixerLink();
    explicit MixerLink (Settings settings);
    ~MixerLink() override;

    int runInitialiseStep() override;
    int runConnectStep (juce::Thread& worker) override;
    int runSendStep (juce::Thread& worker) override;
    double getSendProgress() const override;

    /** True while a mixer connection is held. */
    bool isConnected() const noexcept { return connection != nullptr; }

private:
    int endConnect (int status);
    void publishProgress (const Update& transfer);

    const Settings settings;
    std::unique_ptr<UpdateEnvironment> environment;
    std::unique_ptr<Broadcast> broadcaster;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<juce::StreamingSocket> connection;
    std::unique_ptr<Update> transfer;
    std::atomic<juce::int64> bytesSent { 0 }, totalBytes { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerLink)
};

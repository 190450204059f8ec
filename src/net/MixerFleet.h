#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "net/MixerLinkSettings.h"
#include "net/MixerWait.h"
#include "net/Pacer.h"

/** Updates several mixers in one run, for a technician with a rack of them:
    announces and listens until the expected number of mixers has connected,
    starts each one's transfer the moment it connects, all on one pacer, and
    turns away connections from addresses that are not on the allow-list
    before they get a byte. Announcements stop and the port closes once the
    last expected mixer is in, or when the time to connect has run out.

    Owned by the command-line updater; the connections stay open until it goes.
*/
class MixerFleet final
{
public:
    struct Settings
    {
        /** The file, the interfaces and the ports, as for one mixer. */
        MixerLinkSettings link;

        /** How many mixers to wait for. */
        int expected = 1;

        /** Dotted IPv4 addresses a mixer may connect from; empty: any. */
        juce::StringArray allowed;

        /** 0: wait for the mixers until stopped. */
        double connectTimeoutSeconds = 0.0;
    };

    /** A mixer as the user sees it, read at one moment. */
    struct MixerState
    {
        juce::String address;
        juce::int64 taken = 0, total = 0;
        int status = -1;            // one of Update::Status
        bool delivered = false;
        double seconds = 0.0;       // from its connection to its end, or until now
        double secondsWithoutTaking = 0.0;   // while sending: how long it has taken nothing
        juce::String sha256;        // of the bytes it was sent, once it ended
    };

    /** What happened, in order, for the user to be told. */
    struct Event
    {
        enum class Kind
        {
            connected,
            refused,    // not on the allow-list: closed at once
            surplus,    // one more than expected: closed at once
            ended
        };

        Kind kind;
        juce::String address;
    };

    explicit MixerFleet (Settings settings);

    /** Stops every transfer, then closes every connection. */
    ~MixerFleet();

    /** Checks the update file and the interfaces, as the window's first step does. */
    int runInitialiseStep (juce::Thread& worker);

    /** Announces, listens and serves until every expected mixer has connected
        and been served, or the time to connect ran out and those that did
        have been served, or the worker is asked to stop (the transfers then end
        as stopped; -1). A failure of the listener or the announcer before any
        mixer connected gives its C code; the mixers' own outcomes are theirs.
    */
    int runConnectAndSendStep (juce::Thread& worker);

    const UpdateEnvironment* getEnvironment() const noexcept { return environment.get(); }

    /** True when the time to connect ran out before every expected mixer had connected. */
    bool hasTimedOut() const noexcept { return timedOut.load(); }

    /** The C code of a listener or announcer that failed after some mixers
        had connected but before all were in; 0 otherwise.
    */
    int getListeningFailure() const noexcept { return listeningFailure.load(); }

    /** The mixers that connected, in order. May be called on any thread. */
    std::vector<MixerState> getMixers() const;

    /** The events since the last call. May be called on any thread. */
    std::vector<Event> takeEvents();

private:
    struct Mixer
    {
        juce::String address;
        std::unique_ptr<juce::StreamingSocket> connection;
        std::shared_ptr<TransferSession> session;
        double connectedMs = 0.0, endedMs = 0.0;
    };

    void take (std::unique_ptr<juce::StreamingSocket> connection, juce::Thread& worker);
    void sessionEnded (TransferSession& session, juce::Thread& worker);
    void note (Event::Kind kind, const juce::String& address);

    const Settings settings;
    std::unique_ptr<UpdateEnvironment> environment;
    std::unique_ptr<Pacer> pacer;
    std::unique_ptr<MixerWait> waiting;

    mutable std::mutex lock;
    std::vector<std::unique_ptr<Mixer>> mixers;
    std::vector<Event> events;
    int running = 0;
    std::atomic<bool> timedOut { false };
    std::atomic<int> listeningFailure { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerFleet)
};

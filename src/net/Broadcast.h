#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <juce_core/juce_core.h>

#include "net/UpdateEnvironment.h"

/** Announces, about every 100 ms, on every subnet of the environment, where the
    mixer should connect: an 8-byte datagram (20 00, the TCP port, our address).

    Owned by the workflow during the connect phase; the environment must outlive it.
*/
class Broadcast final : public juce::Thread
{
public:
    enum Status
    {
        running = -1,
        stopped = 0,
        socketNotReady = 2,
        sendFailed = 4      // no interface took an announcement for about five seconds
    };

    static constexpr int defaultAnnouncePort = 56000;

    /** Ports are arguments so tests can run on free loopback ports; the
        listener's is the one a running Listener reports.
    */
    Broadcast (const UpdateEnvironment& environment, int listenerPort, int announcePort = defaultAnnouncePort);

    /** Stops the thread, then closes the sockets. */
    ~Broadcast() override;

    int getStatus() const noexcept { return status.load(); }

    /** Called on this object's thread once the status has left running, so that
        a waiting owner can sleep until then instead of polling. Set before startThread.
    */
    std::function<void()> onFinished;

    /** The announcement for one interface address (dotted form); empty for a malformed address. */
    static juce::MemoryBlock makeAnnouncement (const juce::String& localAddress, int listenerPort);

    void run() override;

private:
    const UpdateEnvironment& environment;
    const int listenerPort, announcePort;
    std::atomic<int> status { running };
    std::vector<std::unique_ptr<juce::DatagramSocket>> sockets;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Broadcast)
};

#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <juce_core/juce_core.h>

/** Waits on a TCP port for the mixer and accepts exactly one connection, which
    the workflow then takes over and owns; or, for a fleet of mixers, hands
    every connection to its owner as it comes (onConnection).

    Owned by the workflow during the connect phase; the connection it hands over
    outlives it.
*/
class Listener final : public juce::Thread
{
public:
    enum Status
    {
        listening = -1,
        connected = 0,
        cannotListen = 1,
        endedWithoutPeer = 2
    };

    static constexpr int defaultPort = 54000;

    /** Port 0 listens on a port the system picks (see getPort). */
    explicit Listener (int port = defaultPort);

    /** Closes the listening socket (ending a pending wait as endedWithoutPeer), then joins. */
    ~Listener() override;

    int getStatus() const noexcept { return status.load(); }

    /** Blocks until the socket listens or listening failed, at most timeoutMs.
        True once it listens (also when a peer has been accepted since).
    */
    bool waitUntilListening (int timeoutMs) const;

    /** The port actually listened on; 0 until the socket listens. */
    int getPort() const noexcept { return boundPort.load(); }

    /** Hands the accepted connection over; valid once getStatus() has returned connected. */
    std::unique_ptr<juce::StreamingSocket> takeConnection();

    /** When set before startThread, every accepted connection goes to it, on
        this object's thread, and listening goes on until the listener is
        destroyed; the status stays listening meanwhile.
    */
    std::function<void (std::unique_ptr<juce::StreamingSocket>)> onConnection;

    /** Called on this object's thread once the status has left listening, so that
        a waiting owner can sleep until then instead of polling. Set before startThread.
    */
    std::function<void()> onFinished;

    void run() override;

private:
    int acceptOne();

    const int port;
    std::atomic<int> status { listening };
    std::atomic<int> boundPort { 0 };
    std::atomic<int> listenHandle { -1 };
    juce::WaitableEvent listenAttempted { true };
    std::unique_ptr<juce::StreamingSocket> listenSocket, connection;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Listener)
};

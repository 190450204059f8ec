#pragma once

#include <atomic>
#include <memory>

#include <juce_core/juce_core.h>

/** Waits on a TCP port for the mixer and accepts exactly one connection, which
    the workflow then takes over and owns.
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

    explicit Listener (int port = defaultPort);

    /** Closes the listening socket (ending a pending wait as endedWithoutPeer), then joins. */
    ~Listener() override;

    int getStatus() const noexcept { return status.load(); }

    /** Hands the accepted connection over; valid once getStatus() has returned connected. */
    std::unique_ptr<juce::StreamingSocket> takeConnection();

    void run() override;

private:
    const int port;
    std::atomic<int> status { listening };
    std::unique_ptr<juce::StreamingSocket> listenSocket, connection;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Listener)
};

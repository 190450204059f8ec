#pragma once

#include <functional>
#include <memory>

#include "net/Broadcast.h"
#include "net/Listener.h"

struct MixerLinkSettings;

/** The two threads of the wait for the mixer: the listener, which listens
    before the first announcement names its port (so a mixer that answers the
    very first datagram is not refused), then the announcer. Both wake the
    waiting worker when they end.

    Owned by the mixer link, or by the fleet, for as long as they wait; the
    environment must outlive it.
*/
class MixerWait final
{
public:
    /** With onConnection, every connection goes there; else the listener takes one. */
    MixerWait (const MixerLinkSettings& settings, const UpdateEnvironment& environment, juce::Thread& worker,
               std::function<void (std::unique_ptr<juce::StreamingSocket>)> onConnection = {});

    /** The announcements stop first, then the port closes. */
    ~MixerWait();

    Listener& getListener() noexcept { return *listener; }

    /** 0 while the port listens (or has its mixer) and the announcements go
        out; else the C code that ends the wait.
    */
    int getFailure() const noexcept;

private:
    std::unique_ptr<Listener> listener;
    std::unique_ptr<Broadcast> broadcaster;
    bool notListening = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerWait)
};

#pragma once

#include <cstdint>
#include <functional>

#include <juce_core/juce_core.h>

/** Looks at the ports the tool will use without using them: whether TCP
    `port` could be listened on and who holds it, and where an announcement
    would leave from. Nothing is sent and no connection is accepted. For
    qvr-update's network check.
*/
namespace portprobe
{
    enum class PortState
    {
        free,
        held,
        unknown   // the system refused for another reason: `why` says which
    };

    /** Binds TCP `port` on every address the way the listener will, and lets it go again without listening. */
    PortState tcpPortState (int port, juce::String& why);

    /** The programs listening on TCP `port`, each as "name (pid N)", or as
        far as this user may see; those found by then once shouldStop says so.
    */
    juce::StringArray tcpPortHolders (int port, const std::function<bool()>& shouldStop);

    /** The address a datagram to `broadcast` would leave from, found by
        routing alone; 0 when it could not leave, and then `why` says why.
    */
    std::uint32_t announcementSource (std::uint32_t broadcast, int port, juce::String& why);
}

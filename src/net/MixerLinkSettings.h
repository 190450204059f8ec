#pragma once

#include <functional>
#include <memory>

#include "net/Broadcast.h"
#include "net/Listener.h"
#include "net/UpdateEnvironment.h"

/** Where the mixer link looks and listens; the defaults are the product's.
    Tests give free ports and loopback interfaces; qvr-update gives its file
    and the interfaces asked for.
*/
struct MixerLinkSettings
{
    juce::File updateFile = UpdateEnvironment::getUpdateFile();
    InterfaceSource interfaces = querySystemInterfaces;
    int listenerPort = Listener::defaultPort;     // 0: one the system picks, and that one is announced
    int announcePort = Broadcast::defaultAnnouncePort;

    /** Binding a local port takes well under a millisecond; this only bounds a sick system. */
    int listenTimeoutMs = 1000;

    /** Called on the worker thread once the port listens, before the
        first announcement names it and before the step looks for a peer.
    */
    std::function<void (const Listener&)> onListening;

    /** The initialise step, for one mixer or many: checks the update file and
        lists the interfaces, looking at the worker's stop request between reads.
    */
    std::unique_ptr<UpdateEnvironment> checkEnvironment (juce::Thread& worker) const;
};

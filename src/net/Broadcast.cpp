#include "net/Broadcast.h"
#include "net/CallOnExit.h"
#include "net/Ipv4Address.h"

#include "platform/NetCalls.h"

namespace
{
    constexpr int socketBufferSize = 65536;
    constexpr int cycleMilliseconds = 100;
    constexpr int announcementSize = 8;

    // An adapter that goes away (roaming, a VPN coming up, a USB adapter
    // unplugged) only loses its own announcements, and gets them again when it
    // is back. Only when no interface at all has taken a datagram for this many
    // cycles in a row does waiting on make no sense any more.
    constexpr int silentCyclesBeforeGivingUp = 50;

    std::unique_ptr<juce::DatagramSocket> makeSocket()
    {
        for (int attempt = 0; attempt < 2; ++attempt)
        {
            auto socket = std::make_unique<juce::DatagramSocket> (true);

            if (socket->getRawSocketHandle() >= 0)
                return socket;
        }

        return {};
    }
}

Broadcast::Broadcast (const UpdateEnvironment& env, int listenerPortToAnnounce, int portToAnnounceOn)
    : juce::Thread ("QVR7000_UPDATE"),
      environment (env),
      listenerPort (listenerPortToAnnounce),
      announcePort (portToAnnounceOn)
{
}

Broadcast::~Broadcast()
{
    // Sockets are only closed once run() can no longer touch them.
    stopThread (-1);
    sockets.clear();
}

juce::MemoryBlock Broadcast::makeAnnouncement (const juce::String& localAddress, int port)
{
    std::uint32_t address = 0;

    if (! ipv4::parse (localAddress, address))
        return {};

    const juce::uint8 bytes[announcementSize] = { 0x20, 0x00, (juce::uint8) (port >> 8), (juce::uint8) port,
                                                  (juce::uint8) (address >> 24), (juce::uint8) (address >> 16),
                                                  (juce::uint8) (address >> 8), (juce::uint8) address };
    return { bytes, sizeof (bytes) };
}

void Broadcast::run()
{
    const CallOnExit finished { onFinished };
    std::vector<juce::MemoryBlock> announcements;

    for (int i = 0; i < environment.getNumAddresses(); ++i)
    {
        auto socket = makeSocket();

        if (socket == nullptr)
        {
            status = socketNotReady;
            return;
        }

        // The first socket gets the announce port as its source; the others
        // fall back to one the system picks, so the outcome does not matter.
        const auto handle = socket->getRawSocketHandle();
        netcalls::bindWithoutReuse (handle, announcePort);
        sockets.push_back (std::move (socket));

        auto announcement = makeAnnouncement (environment.getLocalAddress (i), listenerPort);

        // Never blocking: a driver that stops its queue while the link stays up
        // would otherwise hold the announcer in a send for good, and Cancel
        // with it. A full queue is a datagram not taken, like any failed send.
        if (announcement.getSize() != (size_t) announcementSize
            || ! netcalls::setBufferSizes (handle, socketBufferSize)
            || ! netcalls::setBlocking (handle, false))
        {
            sockets.back()->shutdown();
            status = socketNotReady;
            return;
        }

        announcements.push_back (std::move (announcement));
    }

    int silentCycles = 0;

    while (! threadShouldExit())
    {
        bool anyTaken = sockets.empty();

        for (size_t i = 0; i < sockets.size(); ++i)
        {
            const auto& announcement = announcements[i];

            if (sockets[i]->write (environment.getBroadcastAddress ((int) i), announcePort,
                                   announcement.getData(), (int) announcement.getSize())
                == announcementSize)
                anyTaken = true;
        }

        silentCycles = anyTaken ? 0 : silentCycles + 1;

        if (silentCycles >= silentCyclesBeforeGivingUp)
        {
            status = sendFailed;
            return;
        }

        wait (cycleMilliseconds);
    }

    status = stopped;
}

#include "net/Broadcast.h"

#include <cstring>

#if defined (_WIN32)
 #include <winsock2.h>
 #include <ws2tcpip.h>

// Winsock takes option values as char pointers.
static inline int setsockopt (SOCKET s, int level, int name, const void* value, std::size_t size) noexcept
{
    return ::setsockopt (s, level, name, static_cast<const char*> (value), (int) size);
}
#else
 #include <arpa/inet.h>
 #include <netinet/in.h>
 #include <sys/socket.h>
#endif

namespace
{
    constexpr int socketBufferSize = 65536;
    constexpr int cycleMilliseconds = 100;
    constexpr int announcementSize = 8;

    bool parseDotted (const juce::String& dotted, in_addr& result) noexcept
    {
        return ::inet_pton (AF_INET, dotted.toRawUTF8(), &result) == 1;
    }

    bool setIntOption (int handle, int option, int value) noexcept
    {
        return ::setsockopt (handle, SOL_SOCKET, option, &value, sizeof (value)) == 0;
    }

    // DatagramSocket turns address reuse on, but only the first of our sockets
    // is meant to get the announce port; the others fall back to a port the
    // system picks, so the bind's outcome does not matter.
    void bindExclusively (int handle, int port) noexcept
    {
        setIntOption (handle, SO_REUSEADDR, 0);

        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons ((std::uint16_t) port);
        local.sin_addr.s_addr = htonl (INADDR_ANY);

        [[maybe_unused]] const auto ignored = ::bind (handle, reinterpret_cast<const sockaddr*> (&local), sizeof (local));
    }

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
    in_addr address {};

    if (! parseDotted (localAddress, address))
        return {};

    juce::uint8 bytes[announcementSize] = { 0x20, 0x00, (juce::uint8) (port >> 8), (juce::uint8) port };
    std::memcpy (bytes + 4, &address.s_addr, 4); // already in network order

    return { bytes, sizeof (bytes) };
}

void Broadcast::run()
{
    std::vector<juce::MemoryBlock> announcements;

    for (int i = 0; i < environment.getNumAddresses(); ++i)
    {
        auto socket = makeSocket();

        if (socket == nullptr)
        {
            status = socketNotReady;
            return;
        }

        const auto handle = socket->getRawSocketHandle();
        bindExclusively (handle, announcePort);
        sockets.push_back (std::move (socket));

        in_addr destination {};
        auto announcement = makeAnnouncement (environment.getLocalAddress (i), listenerPort);

        if (! parseDotted (environment.getBroadcastAddress (i), destination)
            || announcement.getSize() != (size_t) announcementSize
            || ! setIntOption (handle, SO_RCVBUF, socketBufferSize)
            || ! setIntOption (handle, SO_SNDBUF, socketBufferSize))
        {
            sockets.back()->shutdown();
            status = socketNotReady;
            return;
        }

        announcements.push_back (std::move (announcement));
    }

    while (! threadShouldExit())
    {
        for (size_t i = 0; i < sockets.size(); ++i)
        {
            const auto& announcement = announcements[i];

            if (sockets[i]->write (environment.getBroadcastAddress ((int) i), announcePort,
                                   announcement.getData(), (int) announcement.getSize())
                != announcementSize)
            {
                status = sendFailed;
                return;
            }
        }

        wait (cycleMilliseconds);
    }

    status = stopped;
}

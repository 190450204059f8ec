// The mixer link's Windows code paths on loopback: listener exclusivity, the
// paced transfer and the update file read as bytes (run under Wine).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <juce_core/juce_core.h>

#include "net/Listener.h"
#include "net/Update.h"
#include "platform/NetworkInterfaces.h"

namespace
{
    struct Winsock
    {
        Winsock() { WSADATA d; ::WSAStartup (MAKEWORD (2, 2), &d); }
        ~Winsock() { ::WSACleanup(); }
    };

    // A raw socket bound to addr:port with the given option, listening; closed on scope exit.
    struct HeldPort
    {
        HeldPort (u_long address, int option)
        {
            handle = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
            int on = 1;
            if (option != 0)
                ::setsockopt (handle, SOL_SOCKET, option, reinterpret_cast<const char*> (&on), sizeof (on));
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl (address);
            bound = ::bind (handle, reinterpret_cast<sockaddr*> (&a), sizeof (a)) == 0 && ::listen (handle, 4) == 0;
            int len = sizeof (a);
            ::getsockname (handle, reinterpret_cast<sockaddr*> (&a), &len);
            port = ntohs (a.sin_port);
        }

        ~HeldPort() { ::closesocket (handle); }

        SOCKET handle;
        bool bound = false;
        int port = 0;
    };

    int waitForStatus (const Listener& l, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        while (l.getStatus() == Listener::listening && juce::Time::getMillisecondCounter() < end)
            juce::Thread::sleep (5);
        return l.getStatus();
    }

    // A port the system just handed out, free again.
    int freePort()
    {
        Winsock ws;
        HeldPort probe (INADDR_ANY, 0);
        return probe.port;
    }

    void expectListensAndHandsOverOnePeer (int port)
    {
        Listener listener (port);
        listener.startThread();
        ASSERT_TRUE (listener.waitUntilListening (5000));
        EXPECT_EQ (listener.getPort(), port);

        juce::StreamingSocket peer;
        ASSERT_TRUE (peer.connect ("127.0.0.1", port, 3000));
        ASSERT_EQ (waitForStatus (listener, 5000), Listener::connected);
        EXPECT_NE (listener.takeConnection(), nullptr);
    }

    juce::MemoryBlock readAll (juce::StreamingSocket& s, size_t expected, int timeoutMs)
    {
        juce::MemoryBlock got;
        char buffer[4096];
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (got.getSize() < expected && juce::Time::getMillisecondCounter() < end)
        {
            if (s.waitUntilReady (true, 100) != 1)
                continue;
            const auto n = s.read (buffer, sizeof (buffer), false);
            if (n <= 0)
                break;
            got.append (buffer, (size_t) n);
        }
        return got;
    }
}

TEST (WindowsListener, PortHeldExclusivelyElsewhereCannotBeListenedOn)
{
    Winsock ws;
    HeldPort other (INADDR_ANY, SO_EXCLUSIVEADDRUSE);
    ASSERT_TRUE (other.bound);

    Listener listener (other.port);
    listener.startThread();
    EXPECT_FALSE (listener.waitUntilListening (5000));
    EXPECT_EQ (waitForStatus (listener, 5000), Listener::cannotListen);
}

TEST (WindowsListener, PortThatAnotherSocketSharesOnOneAddressIsNotReportedAsListening)
{
    Winsock ws;
    // Bound to loopback alone: on Windows a plain 0.0.0.0 bind of the same port
    // would succeed beside it, and loopback peers would reach the other socket.
    HeldPort other (INADDR_LOOPBACK, 0);
    ASSERT_TRUE (other.bound);

    Listener listener (other.port);
    listener.startThread();
    EXPECT_FALSE (listener.waitUntilListening (5000));
    EXPECT_EQ (waitForStatus (listener, 5000), Listener::cannotListen);
}

TEST (WindowsListener, FreePortListensAndHandsOverOnePeer)
{
    Winsock ws;
    expectListensAndHandsOverOnePeer (freePort());
}

TEST (WindowsListener, DestroyingAWaitingListenerEndsItPromptly)
{
    Winsock ws;
    const auto started = std::chrono::steady_clock::now();
    {
        Listener listener (0);
        listener.startThread();
        ASSERT_TRUE (listener.waitUntilListening (5000));
    }
    EXPECT_LT (std::chrono::steady_clock::now() - started, std::chrono::seconds (3));
}

// The tool's connect phase makes its first socket in the listener, after the
// interface query has started and ended its own use of Winsock. Only a
// process in which nothing has started Winsock yet shows whether the listener
// starts it: CTest runs this case alone (windows.listener_first_socket, which
// sets QVR_FRESH_PROCESS); inside the whole test binary, where JUCE's sockets
// keep Winsock started, it is skipped.
TEST (WindowsListenerFirstSocket, ListensAfterTheInterfaceQueryInAProcessWithoutSockets)
{
    const auto port = freePort();

    std::vector<Ipv4Interface> interfaces;
    ASSERT_EQ (querySystemInterfaces (interfaces), InterfaceQueryResult::ok);

    const auto early = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const auto error = ::WSAGetLastError();

    if (early != INVALID_SOCKET)
    {
        ::closesocket (early);
        if (std::getenv ("QVR_FRESH_PROCESS") == nullptr)
            GTEST_SKIP() << "Winsock was started earlier in this process";
        FAIL() << "Winsock is still started after the interface query";
    }

    ASSERT_EQ (error, WSANOTINITIALISED);

    expectListensAndHandsOverOnePeer (port);
}

TEST (WindowsTransfer, SendsTheFileByteForByteAtNoMoreThanOneChunkPerMillisecond)
{
    Winsock ws;
    // Bytes a text-mode read would change: CR LF pairs, a lone LF, Ctrl-Z.
    juce::MemoryBlock image;
    image.append ("QVR-700", 7);
    juce::Random random (7000);
    for (int i = 0; image.getSize() < 64 * 1024 + 300; ++i)
    {
        const char special[] = { '\r', '\n', 0x1a, 0 };
        const char c = (i % 5 == 0) ? special[(i / 5) % 4] : (char) random.nextInt (256);
        image.append (&c, 1);
    }

    juce::TemporaryFile temp (".upd");
    ASSERT_TRUE (temp.getFile().replaceWithData (image.getData(), image.getSize()));

    Listener listener (0);
    listener.startThread();
    ASSERT_TRUE (listener.waitUntilListening (5000));

    juce::StreamingSocket mixer;
    ASSERT_TRUE (mixer.connect ("127.0.0.1", listener.getPort(), 3000));
    ASSERT_EQ (waitForStatus (listener, 5000), Listener::connected);
    auto connection = listener.takeConnection();
    ASSERT_NE (connection, nullptr);

    const auto chunks = (int) (image.getSize() + 1023) / 1024;
    const auto started = std::chrono::steady_clock::now();

    Update update (*connection, temp.getFile());
    update.startThread();
    const auto got = readAll (mixer, image.getSize() + 4, 20000);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    ASSERT_EQ (got.getSize(), image.getSize() + 4);
    const auto* bytes = static_cast<const unsigned char*> (got.getData());
    const auto length = ((juce::uint32) bytes[0] << 24) | ((juce::uint32) bytes[1] << 16) | ((juce::uint32) bytes[2] << 8) | bytes[3];
    EXPECT_EQ (length, (juce::uint32) image.getSize());
    EXPECT_EQ (std::memcmp (bytes + 4, image.getData(), image.getSize()), 0);

    // Every chunk but the last is followed by a pause of at least 1 ms before the next.
    EXPECT_GE (elapsed, std::chrono::milliseconds (chunks - 1));

    const auto end = juce::Time::getMillisecondCounter() + 5000;
    while (update.getStatus() == Update::sending && juce::Time::getMillisecondCounter() < end)
        juce::Thread::sleep (5);
    EXPECT_EQ (update.getStatus(), Update::done);
}

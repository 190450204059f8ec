// The listener's Windows bind rules against the real Winsock (run under Wine).
#include <gtest/gtest.h>

#include <cstdlib>

#include "../net/NetTestSupport.h"
#include "net/Listener.h"

using namespace nettest;

namespace
{
    // A raw socket listening on addr:port with the given option; closed on scope exit.
    struct HeldPort
    {
        HeldPort (u_long address, int option, bool listens = true)
        {
            handle = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
            int on = 1;
            if (option != 0)
                ::setsockopt (handle, SOL_SOCKET, option, reinterpret_cast<const char*> (&on), sizeof (on));
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl (address);
            bound = ::bind (handle, reinterpret_cast<sockaddr*> (&a), sizeof (a)) == 0 && (! listens || ::listen (handle, 4) == 0);
            int len = sizeof (a);
            ::getsockname (handle, reinterpret_cast<sockaddr*> (&a), &len);
            port = ntohs (a.sin_port);
        }

        ~HeldPort() { ::closesocket (handle); }

        SOCKET handle;
        bool bound = false;
        int port = 0;
    };

    int listenOn (int port)
    {
        Listener listener (port);
        listener.startThread();
        listener.waitUntilListening (5000);
        waitFor ([&] { return listener.getStatus() != Listener::listening || listener.getPort() > 0; }, 5000);
        return listener.getStatus() == Listener::listening ? listener.getPort() : -listener.getStatus();
    }
}

// Windows lets a plain 0.0.0.0 bind succeed beside a socket that holds one
// address of the port, exclusively or not: peers would reach the other program.
// A port nobody listens on (our closed connection in TIME_WAIT after a first
// update) refuses an exclusive bind too, yet reaches nobody else: we listen.
TEST (WindowsListener, PortAnotherProgramListensOnIsRefusedALingeringOneIsNot)
{
    const juce::StreamingSocket startsWinsock;   // JUCE starts Winsock for its sockets; ours need it too
    const struct { u_long address; int option; bool listens; } cases[] = {
        { INADDR_ANY, SO_EXCLUSIVEADDRUSE, true }, { INADDR_LOOPBACK, 0, true }, { INADDR_LOOPBACK, 0, false },
    };

    for (auto& c : cases)
    {
        HeldPort other (c.address, c.option, c.listens);
        ASSERT_TRUE (other.bound);
        EXPECT_EQ (listenOn (other.port), c.listens ? -Listener::cannotListen : other.port) << c.address << " " << c.listens;
    }
}

// The tool's connect phase makes its first socket in the listener, after the
// interface query has started and ended its own use of Winsock. Only a
// process in which nothing has started Winsock yet shows whether the listener
// starts it: CTest runs this case alone (windows.listener_first_socket, which
// sets QVR_FRESH_PROCESS); inside the whole test binary it is skipped.
TEST (WindowsListenerFirstSocket, ListensAfterTheInterfaceQueryInAProcessWithoutSockets)
{
    if (std::getenv ("QVR_FRESH_PROCESS") == nullptr)
        GTEST_SKIP() << "needs a process of its own";

    // A fixed port (0 would skip the port check), found with a balanced start of Winsock.
    WSADATA data;
    ASSERT_EQ (::WSAStartup (MAKEWORD (2, 2), &data), 0);
    const int port = HeldPort (INADDR_ANY, 0).port;
    ::WSACleanup();

    std::vector<Ipv4Interface> interfaces;
    ASSERT_EQ (querySystemInterfaces (interfaces), InterfaceQueryResult::ok);

    const auto early = ::socket (AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ (early, INVALID_SOCKET) << "Winsock is still started after the interface query";
    ASSERT_EQ (::WSAGetLastError(), WSANOTINITIALISED);

    EXPECT_EQ (listenOn (port), port);
}

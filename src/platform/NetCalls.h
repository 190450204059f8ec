#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

/** The socket and timing calls of the mixer link where Winsock and POSIX
    differ, so that the announcer, the listener and the transfer read the same
    on every system. Handles are the raw sockets of JUCE's socket classes.
*/
namespace netcalls
{
    /** The error of the last socket call on this thread (errno, or WSAGetLastError). */
    int lastSocketError() noexcept;

    /** True when an accept failed for this connection only, so the next one may work. */
    bool isTransientAcceptError (int error) noexcept;

    bool setBlocking (int handle, bool shouldBlock) noexcept;

    /** Sets the socket's send and receive buffers to this many bytes each. */
    bool setBufferSizes (int handle, int bytes) noexcept;

    /** Binds a datagram socket to 0.0.0.0:port without address reuse (JUCE
        turns it on), so only the first of several sockets gets the port; the
        bind's outcome is the caller's to ignore.
    */
    bool bindWithoutReuse (int handle, int port) noexcept;

    /** Waits up to timeoutMs until the socket has something to read or accept.
        1 ready (also for a socket that was shut down), 0 time-out, -1 error.
    */
    int waitUntilReadable (int handle, int timeoutMs) noexcept;

    /** Ends the socket's traffic both ways and wakes whoever waits on it. */
    void shutdownBoth (int handle) noexcept;

    /** Hands as much of the buffer to a non-blocking socket as it takes now:
        the bytes taken (0 when it is full), or -1 when the connection failed.
        A vanished peer is a failure, never a SIGPIPE. An empty buffer still
        makes its one send call.
    */
    std::int64_t sendNow (int handle, const void* data, std::size_t size) noexcept;

    /** What the peer's TCP has done with the bytes handed to a connection. */
    struct Acknowledgement
    {
        enum class Peer
        {
            unknown,    // the system cannot tell
            connected,
            failed      // reset, or the connection broke otherwise
        };

        Peer peer = Peer::unknown;

        /** Of the bytes handed over, those not acknowledged yet; 0 when unknown. */
        std::int64_t unacknowledged = 0;

        /** The figures contradict themselves: bytes are missing, yet nothing is
            in flight and the peer has room. For a moment that is a queue about
            to go out; for long, figures that cannot be right.
        */
        bool implausible = false;
    };

    /** What Windows' SIO_TCP_INFO (version 0) says of a connection. */
    struct WindowsTcpFigures
    {
        int state = 0;                      // TCPSTATE: 4 established, 7 close-wait
        std::uint64_t bytesOut = 0;         // sent, retransmissions counted again
        std::uint64_t bytesRetransmitted = 0;
        std::uint32_t bytesInFlight = 0;    // sent, not acknowledged
        std::uint32_t peerWindow = 0;       // SndWnd: what the peer has room for
    };

    /** The acknowledgement those figures tell, of the handedOver bytes. Windows'
        own half asks the system; this reads the answer, on any system.
    */
    Acknowledgement acknowledgementFrom (const WindowsTcpFigures& figures, std::int64_t handedOver) noexcept;

    /** Asks the system how much of the handedOver bytes the peer has not
        acknowledged yet. Never blocks.
    */
    Acknowledgement acknowledgement (int handle, std::int64_t handedOver) noexcept;

    /** False when another program already listens on this TCP port or holds it
        in a way that would let it share our connections; a plain bind cannot
        tell that on Windows. Elsewhere the bind itself decides: always true.
    */
    bool mayListenOn (int port);

    /** Makes this thread's sleeps as precise as the system allows. */
    void preferPreciseSleeps() noexcept;

    /** Returns at `until`, not before: sleeps most of the way, then spins until
        then; returns early only once shouldStop says so.
    */
    void pauseUntil (std::chrono::steady_clock::time_point until, const std::function<bool()>& shouldStop) noexcept;
}

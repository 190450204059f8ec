#include <gtest/gtest.h>

#include "platform/NetCalls.h"

// What Windows' SIO_TCP_INFO figures say of 10 000 bytes handed over, read as
// Microsoft documents the fields (Wine answers the call with an error, so the
// reading is tried here): in flight, retransmitted, all taken, reset, and
// figures that cannot be right.
TEST (WindowsAcknowledgement, FiguresAreReadAsDocumentedAndImpossibleOnesAreFlagged)
{
    using Peer = netcalls::Acknowledgement::Peer;
    const struct { netcalls::WindowsTcpFigures figures; Peer peer; std::int64_t missing; bool implausible; } cases[] = {
        { { 4, 10000, 0, 4000, 65535 }, Peer::connected, 4000, false },
        { { 4, 11000, 1000, 4000, 65535 }, Peer::connected, 4000, false },   // BytesOut counts a retransmission again
        { { 7, 10000, 0, 0, 65535 }, Peer::connected, 0, false },            // the peer closed its side after reading
        { { 4, 7000, 0, 0, 0 }, Peer::connected, 3000, false },              // queued behind a closed window: a stall
        { { 4, 7000, 0, 0, 65535 }, Peer::connected, 3000, true },           // missing, yet nothing in flight and room
        { { 0, 10000, 0, 0, 65535 }, Peer::failed, 0, false },               // reset: closed
    };

    for (auto& c : cases)
    {
        const auto ack = netcalls::acknowledgementFrom (c.figures, 10000);
        EXPECT_EQ ((int) ack.peer, (int) c.peer) << c.figures.bytesOut;
        EXPECT_EQ (ack.unacknowledged, c.missing) << c.figures.bytesOut;
        EXPECT_EQ (ack.implausible, c.implausible) << c.figures.bytesOut;
    }
}

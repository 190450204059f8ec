#include "platform/NetCalls.h"

#include <algorithm>

namespace netcalls
{
Acknowledgement acknowledgementFrom (const WindowsTcpFigures& f, std::int64_t handedOver) noexcept
{
    constexpr int established = 4, closeWait = 7;

    // A reset leaves no figures worth reading: a connection that is gone must
    // never read as one whose peer took everything.
    if (f.state != established && f.state != closeWait)
        return { Acknowledgement::Peer::failed, 0, false };

    // The counters follow the TCP statistics MIB: BytesOut counts retransmitted
    // bytes again, BytesInFlight is sent but not acknowledged; what is still
    // queued behind the window has not been sent at all.
    const auto acknowledged = (std::int64_t) f.bytesOut - (std::int64_t) f.bytesRetransmitted - (std::int64_t) f.bytesInFlight;
    const auto missing = std::clamp (handedOver - acknowledged, (std::int64_t) 0, handedOver);
    return { Acknowledgement::Peer::connected, missing, missing > 0 && f.bytesInFlight == 0 && f.peerWindow > 0 };
}
} // namespace netcalls

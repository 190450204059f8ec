#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/** One IPv4 interface as the system lists it: address and netmask in host byte
    order, the adapter's name where the system gives one (not on Windows), and
    the two flags that tell whether a broadcast there can reach a mixer at all.
*/
struct Ipv4Interface
{
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
    std::string name = {};
    bool up = true;
    bool pointToPoint = false;   // a tunnel, PPP or VPN link: no neighbours to hear a broadcast
};

/** Outcome of asking the system for its interfaces. The numbers are the
    initialise-phase codes the user sees (I5, I6).
*/
enum class InterfaceQueryResult
{
    ok = 0,
    cannotSetUp = 5,
    failed = 6
};

/** Fills the list with the IPv4 interfaces in the order the system gives them. */
using InterfaceSource = std::function<InterfaceQueryResult (std::vector<Ipv4Interface>&)>;

/** The system's own interface list (getifaddrs on Linux). */
InterfaceQueryResult querySystemInterfaces (std::vector<Ipv4Interface>& result);

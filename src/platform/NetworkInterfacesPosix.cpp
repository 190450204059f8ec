#include "platform/NetworkInterfaces.h"

#include <cerrno>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace
{
    std::uint32_t hostOrder (const sockaddr* a) noexcept
    {
        return ntohl (reinterpret_cast<const sockaddr_in*> (a)->sin_addr.s_addr);
    }

    // getifaddrs needs a netlink socket and memory of its own: when it cannot
    // get them, the query could not be set up at all; anything else is a failed query.
    bool isSetUpError (int error) noexcept
    {
        switch (error)
        {
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
            case EACCES:
            case EPERM:
            case EAFNOSUPPORT:
            case EPROTONOSUPPORT:
                return true;
            default:
                return false;
        }
    }
}

InterfaceQueryResult querySystemInterfaces (std::vector<Ipv4Interface>& result)
{
    result.clear();

    ifaddrs* list = nullptr;

    if (::getifaddrs (&list) != 0)
        return isSetUpError (errno) ? InterfaceQueryResult::cannotSetUp
                                    : InterfaceQueryResult::failed;

    for (auto* entry = list; entry != nullptr; entry = entry->ifa_next)
    {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;

        Ipv4Interface i;
        i.address = hostOrder (entry->ifa_addr);

        // Without a netmask the address is taken as a host of its own, so its
        // announcements stay on that address instead of going everywhere.
        i.netmask = entry->ifa_netmask != nullptr ? hostOrder (entry->ifa_netmask) : 0xffffffffu;
        i.name = entry->ifa_name != nullptr ? entry->ifa_name : "";
        i.up = (entry->ifa_flags & IFF_UP) != 0;
        i.pointToPoint = (entry->ifa_flags & IFF_POINTOPOINT) != 0;
        result.push_back (i);
    }

    ::freeifaddrs (list);
    return InterfaceQueryResult::ok;
}

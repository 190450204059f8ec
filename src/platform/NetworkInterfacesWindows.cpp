#include "platform/NetworkInterfaces.h"

#include "platform/WindowsSystem.h"

namespace
{
    // Room for this many interfaces; a host with more lists its first ones.
    constexpr int maxInterfaces = 20;

    static_assert (sizeof (INTERFACE_INFO) == 76, "the interface query fills 76-byte records");

    std::uint32_t hostOrder (const sockaddr_in& a) noexcept
    {
        return ntohl (a.sin_addr.s_addr);
    }

}

InterfaceQueryResult querySystemInterfaces (std::vector<Ipv4Interface>& result)
{
    result.clear();

    const WinsockUse winsock (MAKEWORD (2, 0));

    // The socket is only the handle the query is asked on.
    const auto handle = ::WSASocketA (AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);

    if (handle == INVALID_SOCKET)
        return InterfaceQueryResult::cannotSetUp;

    INTERFACE_INFO list[maxInterfaces] {};
    DWORD bytes = 0;

    const auto failed = ::WSAIoctl (handle, SIO_GET_INTERFACE_LIST, nullptr, 0,
                                    list, (DWORD) sizeof (list), &bytes, nullptr, nullptr) == SOCKET_ERROR;
    ::closesocket (handle);

    if (failed)
        return InterfaceQueryResult::failed;

    const auto count = (int) (bytes / sizeof (INTERFACE_INFO));

    for (int i = 0; i < count && i < maxInterfaces; ++i)
    {
        Ipv4Interface entry;
        entry.address = hostOrder (list[i].iiAddress.AddressIn);
        entry.netmask = hostOrder (list[i].iiNetmask.AddressIn);
        entry.up = (list[i].iiFlags & IFF_UP) != 0;
        entry.pointToPoint = (list[i].iiFlags & IFF_POINTTOPOINT) != 0;
        result.push_back (entry);
    }

    return InterfaceQueryResult::ok;
}

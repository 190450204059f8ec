#pragma once

#include <functional>
#include <vector>

#include "check/CheckFinding.h"
#include "platform/NetworkInterfaces.h"

/** The firewall's part of qvr-update's network check: whether a new TCP
    connection from the mixer to `port` would get in, as far as the system lets
    this user see, one line per firewall (per zone, or per interface where the
    rules differ between them) or network profile. Only ever asks:
    nothing on the machine changes. Linux asks ufw, firewalld and nftables;
    Windows asks the network list and Windows Defender Firewall. Once
    shouldStop says so it stops asking, kills a program it started, and
    what it returns tells nothing.
*/
std::vector<CheckFinding> checkFirewall (const std::vector<Ipv4Interface>& interfaces, int port,
                                         const std::function<bool()>& shouldStop);

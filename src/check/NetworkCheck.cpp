#include "check/NetworkCheck.h"

#include <algorithm>

#include "check/FirewallCheck.h"
#include "check/PortProbe.h"
#include "platform/Console.h"
#include "platform/SystemText.h"

namespace
{
    constexpr std::uint32_t skippedAddress = 0x7f000001u;   // 127.0.0.1, as the update skips it
    constexpr std::uint32_t linkLocalNet = 0xa9fe0000u, linkLocalMask = 0xffff0000u;   // 169.254.0.0/16

    juce::String dotted (std::uint32_t address)
    {
        return juce::IPAddress (address).toString();
    }

    int prefixLength (std::uint32_t netmask)
    {
        int n = 0;

        for (; n < 32 && (netmask & (0x80000000u >> n)) != 0; ++n)
        {
        }

        return n;
    }

    juce::String nameOf (const Ipv4Interface& i)
    {
        return i.name.empty() ? dotted (i.address) : systemtext::readable (i.name);
    }

    // Tunnels that are not point-to-point links still tell themselves by their usual names.
    bool isTunnel (const Ipv4Interface& i)
    {
        static const char* const prefixes[] = { "tun", "tap", "wg", "ppp", "tailscale", "zt", "vpn" };
        return i.pointToPoint
            || std::any_of (std::begin (prefixes), std::end (prefixes), [&] (auto* p) { return i.name.rfind (p, 0) == 0; });
    }

    // Where a mixer could hear the announcements at all.
    bool canReachMixers (const Ipv4Interface& i)
    {
        return i.up && ! isTunnel (i) && prefixLength (i.netmask) < 31;
    }
}

NetworkCheck::NetworkCheck (MixerLinkSettings s, bool withFile, std::function<bool()> stop)
    : settings (std::move (s)), checkFile (withFile), shouldStop (std::move (stop))
{
}

std::vector<CheckFinding> NetworkCheck::interfaceFindings (const std::vector<Ipv4Interface>& interfaces)
{
    std::vector<CheckFinding> result;
    bool anyReaches = false;

    for (auto& i : interfaces)
    {
        if (i.address == skippedAddress)
            continue;

        const auto prefix = prefixLength (i.netmask);
        CheckFinding f { CheckFinding::ok, "interface " + nameOf (i),
                         dotted (i.address) + "/" + juce::String (prefix) + ", broadcast " + dotted (i.address | ~i.netmask), {} };

        if (! i.up)
        {
            f = { CheckFinding::warning, f.check, f.detail + ": down, so nothing announced here reaches anyone",
                  "connect its cable, or switch the adapter on", CheckFinding::Kind::interfaceDown, nameOf (i) };
        }
        else if (isTunnel (i))
        {
            f = { CheckFinding::warning, f.check, f.detail + ": a tunnel or VPN adapter; a mixer is never on the far side",
                  "connect this computer to the mixer's own network; disconnect the VPN if the mixer still does not connect",
                  CheckFinding::Kind::tunnel, nameOf (i) };
        }
        else if (prefix >= 31)
        {
            f = { CheckFinding::warning, f.check, f.detail + ": a /" + juce::String (prefix) + " has no broadcast, so the mixer cannot hear the announcements here",
                  "give this interface an address in the mixer's subnet, with its netmask (such as /24)", CheckFinding::Kind::noBroadcast, nameOf (i) };
        }
        else if ((i.address & linkLocalMask) == linkLocalNet)
        {
            f = { CheckFinding::warning, f.check, f.detail + ": link-local, as when no DHCP server answered; fine on a direct cable if the mixer has a 169.254 address too",
                  "on a direct cable give the mixer an address in 169.254.0.0/16; on a network with a router, check that DHCP reaches this computer",
                  CheckFinding::Kind::linkLocal, nameOf (i) };
        }

        anyReaches = anyReaches || canReachMixers (i);
        result.push_back (f);
    }

    if (result.empty())
        result.push_back ({ CheckFinding::blocking, "interfaces", "no IPv4 interface besides 127.0.0.1 (the update stops with I9)",
                            "connect this computer to the mixer's network by cable or Wi-Fi", CheckFinding::Kind::noInterface });
    else if (! anyReaches)
        result.push_back ({ CheckFinding::blocking, "interfaces", "none where a mixer could hear the announcements",
                            "connect this computer to the mixer's network by cable or Wi-Fi", CheckFinding::Kind::noReachableInterface });

    return result;
}

juce::String NetworkCheck::describeFileProblem (const juce::File& file, const UpdateEnvironment::FileReading& reading)
{
    // Only a stat and the reader touch the file: opening a FIFO with JUCE's
    // streams waits for a writer, for good.
    switch (console::lookAt (file).kind)
    {
        case console::PathFacts::folder:  return "is a folder";
        case console::PathFacts::missing: return "does not exist";
        case console::PathFacts::special: return "is not a regular file (a FIFO, a device or a socket)";
        case console::PathFacts::unknown:
        case console::PathFacts::regularFile: break;
    }

    if (! reading.opened)
        return "cannot be read";

    if (reading.tooLarge)
        return "is 4 GiB or larger";

    if (! reading.modelPrefix && (reading.whole || reading.bytesRead > 0))
        return "does not begin with \"QVR-700\": not an update file for this mixer";

    return "cannot be read to its end";
}

CheckFinding NetworkCheck::fileFinding() const
{
    const auto& file = settings.updateFile;
    const auto check = "file " + file.getFullPathName();
    const auto reading = UpdateEnvironment::readFile (file, shouldStop, true);

    if (UpdateEnvironment::checkUpdateFile (reading) != UpdateEnvironment::ok)
        return { CheckFinding::blocking, check, describeFileProblem (file, reading),
                 "give the QVR-7000 update file: a regular file that begins with \"QVR-700\", below 4 GiB" };

    return { CheckFinding::ok, check, juce::String (reading.size) + " bytes, sha256 " + reading.sha256 + ", begins with QVR-700", {} };
}

void NetworkCheck::addTcpFinding()
{
    const auto tcp = "TCP port " + juce::String (settings.listenerPort);
    juce::String why;

    switch (portprobe::tcpPortState (settings.listenerPort, why))
    {
        case portprobe::PortState::free:
            findings.push_back ({ CheckFinding::ok, tcp, "free to listen on", {} });
            break;

        case portprobe::PortState::held:
        {
            const auto holders = portprobe::tcpPortHolders (settings.listenerPort, shouldStop);
            const auto named = holders.size() > 0 && ! holders[0].startsWith ("a program of");
            findings.push_back ({ CheckFinding::blocking, tcp,
                                  holders.isEmpty() ? "taken, though no program that listens there could be found (" + why + ")"
                                                    : "held by " + holders.joinIntoString (", "),
                                  named ? "end " + holders[0] + ", then update"
                                        : "end the program that uses TCP port " + juce::String (settings.listenerPort) + " (sudo qvr-update --check names it)",
                                  CheckFinding::Kind::portHeld, named ? holders[0] : juce::String ("another program") });
            break;
        }

        case portprobe::PortState::unknown:
            findings.push_back ({ CheckFinding::blocking, tcp, "cannot be listened on: " + why,
                                  "ask the computer's administrator what keeps programs from listening on TCP port " + juce::String (settings.listenerPort) });
            break;
    }
}

void NetworkCheck::addUdpFinding (const std::vector<Ipv4Interface>& usable)
{
    juce::String why;
    const auto udp = "UDP announcements to port " + juce::String (settings.announcePort);
    juce::StringArray astray;

    for (auto& i : usable)
    {
        const auto broadcast = i.address | ~i.netmask;
        const auto from = portprobe::announcementSource (broadcast, settings.announcePort, why);

        if (from == 0)
            astray.add ("to " + dotted (broadcast) + " they cannot leave (" + why + ")");
        else if (from != i.address)
            astray.add ("to " + dotted (broadcast) + " they would leave from " + dotted (from) + ", not " + dotted (i.address));
    }

    if (astray.isEmpty())
        findings.push_back ({ CheckFinding::ok, udp, usable.empty() ? "no interface to announce on" : "can leave from every interface's own address", {} });
    else
        findings.push_back ({ CheckFinding::warning, udp, astray.joinIntoString ("; ") + ": a VPN or another route takes them",
                              "disconnect the VPN, or let it leave the local network alone", CheckFinding::Kind::announcementsAstray });
}

void NetworkCheck::addInterfaceFindings (std::vector<Ipv4Interface>& interfaces, std::vector<Ipv4Interface>& usable)
{
    const auto query = settings.interfaces ? settings.interfaces (interfaces) : InterfaceQueryResult::cannotSetUp;

    if (query != InterfaceQueryResult::ok)
    {
        findings.push_back ({ CheckFinding::blocking, "interfaces", "the system did not list them (the update stops with I" + juce::String ((int) query) + ")",
                              "check again; if it stays, restart the computer's network" });
        return;
    }

    for (auto& f : interfaceFindings (interfaces))
        findings.push_back (f);

    interfaces.erase (std::remove_if (interfaces.begin(), interfaces.end(), [] (auto& i) { return i.address == skippedAddress; }), interfaces.end());
    std::copy_if (interfaces.begin(), interfaces.end(), std::back_inserter (usable), canReachMixers);
}

std::vector<CheckFinding> NetworkCheck::run (Scope scope)
{
    findings.clear();
    std::vector<Ipv4Interface> interfaces, usable;

    // A look cut short has seen only part of what it looks at: its lines would
    // not be true, so they go, and no look starts after a stop.
    const auto look = [this] (const std::function<void()>& lookAt)
    {
        const auto before = findings.size();
        lookAt();

        if (stopped())
            findings.resize (before);

        return ! stopped();
    };

    if (scope == Scope::port)
    {
        look ([this] { addTcpFinding(); });
        return findings;
    }

    if ((checkFile && ! look ([this] { findings.push_back (fileFinding()); }))
        || ! look ([&] { addInterfaceFindings (interfaces, usable); })
        || (scope == Scope::everything && ! look ([this] { addTcpFinding(); }))
        || ! look ([&] { addUdpFinding (usable); }))
        return findings;

    look ([&]
          {
              for (auto& f : checkFirewall (interfaces, settings.listenerPort, shouldStop))
                  findings.push_back (f);
          });

    return findings;
}

#include "cli/NetworkCheck.h"

#include <algorithm>
#include <vector>

#include "cli/ConsoleUpdater.h"
#include "cli/JsonLine.h"
#include "net/Sha256.h"
#include "platform/Console.h"
#include "platform/FirewallState.h"
#include "platform/PortProbe.h"
#include "platform/RegularFileReader.h"
#include "platform/SystemText.h"

namespace
{
    constexpr std::uint32_t skippedAddress = 0x7f000001u;   // 127.0.0.1, as the update skips it
    constexpr std::uint32_t linkLocalNet = 0xa9fe0000u, linkLocalMask = 0xffff0000u;   // 169.254.0.0/16

    juce::String dotted (std::uint32_t a)
    {
        return juce::String (a >> 24) + "." + juce::String ((a >> 16) & 0xff) + "." + juce::String ((a >> 8) & 0xff) + "." + juce::String (a & 0xff);
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
        return i.name.empty() ? dotted (i.address) : systemText::readable (i.name);
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

    juce::String mark (CheckLine::Status s)
    {
        return s == CheckLine::ok ? juce::String::fromUTF8 ("\xe2\x9c\x93")
             : s == CheckLine::blocking ? juce::String::fromUTF8 ("\xe2\x9c\x97") : juce::String ("!");
    }

    const char* statusName (CheckLine::Status s)
    {
        switch (s)
        {
            case CheckLine::ok:       return "ok";
            case CheckLine::warning:  return "warning";
            case CheckLine::blocking: return "blocking";
            case CheckLine::unchecked: break;
        }

        return "unchecked";
    }
}

NetworkCheck::NetworkCheck (const CommandLineOptions& o, const MixerLink::Settings& s)
    : options (o), settings (s)
{
}

std::vector<CheckLine> NetworkCheck::interfaceLines (const std::vector<Ipv4Interface>& interfaces)
{
    std::vector<CheckLine> result;
    bool anyReaches = false;

    for (auto& i : interfaces)
    {
        if (i.address == skippedAddress)
            continue;

        const auto prefix = prefixLength (i.netmask);
        CheckLine l { CheckLine::ok, "interface " + nameOf (i),
                      dotted (i.address) + "/" + juce::String (prefix) + ", broadcast " + dotted (i.address | ~i.netmask), {} };

        if (! i.up)
        {
            l = { CheckLine::warning, l.check, l.detail + ": down, so nothing announced here reaches anyone",
                  "connect its cable, or switch the adapter on" };
        }
        else if (isTunnel (i))
        {
            l = { CheckLine::warning, l.check, l.detail + ": a tunnel or VPN adapter; a mixer is never on the far side",
                  "connect this computer to the mixer's own network; disconnect the VPN if the mixer still does not connect" };
        }
        else if (prefix >= 31)
        {
            l = { CheckLine::warning, l.check, l.detail + ": a /" + juce::String (prefix) + " has no broadcast, so the mixer cannot hear the announcements here",
                  "give this interface an address in the mixer's subnet, with its netmask (such as /24)" };
        }
        else if ((i.address & linkLocalMask) == linkLocalNet)
        {
            l = { CheckLine::warning, l.check, l.detail + ": link-local, as when no DHCP server answered; fine on a direct cable if the mixer has a 169.254 address too",
                  "on a direct cable give the mixer an address in 169.254.0.0/16; on a network with a router, check that DHCP reaches this computer" };
        }

        anyReaches = anyReaches || canReachMixers (i);
        result.push_back (l);
    }

    if (result.empty())
        result.push_back ({ CheckLine::blocking, "interfaces", "no IPv4 interface besides 127.0.0.1 (the update stops with I9)",
                            "connect this computer to the mixer's network by cable or Wi-Fi" });
    else if (! anyReaches)
        result.push_back ({ CheckLine::blocking, "interfaces", "none where a mixer could hear the announcements",
                            "connect this computer to the mixer's network by cable or Wi-Fi" });

    return result;
}

CheckLine NetworkCheck::fileLine() const
{
    const auto& file = settings.updateFile;
    const auto check = "file " + file.getFullPathName();

    if (UpdateEnvironment::checkUpdateFile (file) != UpdateEnvironment::ok)
        return { CheckLine::blocking, check, ConsoleUpdater::describeFileProblem (file),
                 "give the QVR-7000 update file: a regular file that begins with \"QVR-700\", below 4 GiB" };

    RegularFileReader reader (file);
    Sha256 hash;
    std::vector<char> block (64 * 1024);

    for (int n; (n = reader.read (block.data(), (int) block.size())) > 0;)
        hash.update (block.data(), (size_t) n);

    return { CheckLine::ok, check, juce::String (reader.getSize()) + " bytes, sha256 " + hash.toHexString() + ", begins with QVR-700", {} };
}

void NetworkCheck::addPortLines (const std::vector<Ipv4Interface>& usable)
{
    const auto tcp = "TCP port " + juce::String (settings.listenerPort);
    juce::String why;

    switch (portprobe::tcpPortState (settings.listenerPort, why))
    {
        case portprobe::PortState::free:
            lines.push_back ({ CheckLine::ok, tcp, "free to listen on", {} });
            break;

        case portprobe::PortState::held:
        {
            const auto holders = portprobe::tcpPortHolders (settings.listenerPort);
            const auto named = holders.size() > 0 && ! holders[0].startsWith ("a program of");
            lines.push_back ({ CheckLine::blocking, tcp,
                               holders.isEmpty() ? "taken, though no program that listens there could be found (" + why + ")"
                                                 : "held by " + holders.joinIntoString (", "),
                               named ? "end " + holders[0] + ", then update"
                                     : "end the program that uses TCP port " + juce::String (settings.listenerPort) + " (sudo qvr-update --check names it)" });
            break;
        }

        case portprobe::PortState::unknown:
            lines.push_back ({ CheckLine::blocking, tcp, "cannot be listened on: " + why,
                               "ask the computer's administrator what keeps programs from listening on TCP port " + juce::String (settings.listenerPort) });
            break;
    }

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
        lines.push_back ({ CheckLine::ok, udp, usable.empty() ? "no interface to announce on" : "can leave from every interface's own address", {} });
    else
        lines.push_back ({ CheckLine::warning, udp, astray.joinIntoString ("; ") + ": a VPN or another route takes them",
                           "disconnect the VPN, or let it leave the local network alone" });
}

int NetworkCheck::run()
{
    if (options.file.isNotEmpty())
        lines.push_back (fileLine());

    std::vector<Ipv4Interface> interfaces, usable;
    const auto query = settings.interfaces ? settings.interfaces (interfaces) : InterfaceQueryResult::cannotSetUp;

    if (query == InterfaceQueryResult::ok)
    {
        for (auto& l : interfaceLines (interfaces))
            lines.push_back (l);

        interfaces.erase (std::remove_if (interfaces.begin(), interfaces.end(), [] (auto& i) { return i.address == skippedAddress; }), interfaces.end());
        std::copy_if (interfaces.begin(), interfaces.end(), std::back_inserter (usable), canReachMixers);
    }
    else
    {
        lines.push_back ({ CheckLine::blocking, "interfaces", "the system did not list them (the update stops with I" + juce::String ((int) query) + ")",
                           "check again; if it stays, restart the computer's network" });
    }

    addPortLines (usable);

    for (auto& l : checkFirewall (interfaces, settings.listenerPort))
        lines.push_back (l);

    const auto blocks = [] (const CheckLine& l) { return l.status == CheckLine::blocking; };
    const auto blockingCount = std::count_if (lines.begin(), lines.end(), blocks);
    const auto unchecked = std::count_if (lines.begin(), lines.end(), [] (auto& l) { return l.status == CheckLine::unchecked; });
    const bool fileFails = options.file.isNotEmpty() && blocks (lines.front());
    const int status = fileFails ? ConsoleUpdater::checksFailed : blockingCount > 0 ? ConsoleUpdater::somethingBlocks : ConsoleUpdater::sent;

    // With --json, standard output carries the result line alone.
    juce::String text;

    for (auto& l : lines)
        if (! options.quiet || l.status != CheckLine::ok)
            text << toText (l) << "\n";

    if (fileFails)
        text << "the update file fails the check\n";
    else if (blockingCount > 0)
        text << juce::String ((int) blockingCount) << (blockingCount == 1 ? " finding" : " findings")
             << " will keep the mixer from connecting: see the lines marked " << mark (CheckLine::blocking) << "\n";
    else
        text << "nothing found that keeps the mixer from connecting"
             << (unchecked > 0 ? "; " + juce::String ((int) unchecked) + " could not be checked" : juce::String()) << "\n";

    if (! (options.json && options.quiet))
        console::write (text, options.json);

    if (options.json)
        console::write (toJson (lines, status) + "\n", false);

    return status;
}

juce::String NetworkCheck::toText (const CheckLine& l)
{
    return mark (l.status) + " " + l.check + ": " + l.detail + (l.fix.isEmpty() ? juce::String() : juce::String::fromUTF8 (" \xe2\x80\x94 fix: ") + l.fix);
}

juce::String NetworkCheck::toJson (const std::vector<CheckLine>& lines, int exitStatus)
{
    std::vector<JsonLine> items;

    for (auto& l : lines)
        items.push_back (JsonLine().add ("check", l.check).add ("status", juce::String (statusName (l.status)))
                                   .add ("detail", l.detail).addOrNull ("fix", l.fix));

    return JsonLine().add ("checks", items).add ("exit", exitStatus).toString();
}

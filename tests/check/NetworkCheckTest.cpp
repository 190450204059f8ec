#include <gtest/gtest.h>

#include "check/FirewallVerdicts.h"
#include "check/NetworkCheck.h"
#include "check/NetworkHint.h"
#include "check/WindowsFirewallVerdicts.h"
#include "cli/CheckReport.h"

namespace
{
    Ipv4Interface entry (const char* name, std::uint32_t address, int prefix, bool up = true, bool pointToPoint = false)
    {
        return { address, prefix == 0 ? 0u : 0xffffffffu << (32 - prefix), name, up, pointToPoint };
    }

    juce::String textOf (const std::vector<CheckFinding>& lines)
    {
        juce::StringArray text;

        for (auto& l : lines)
            text.add (checkreport::toText (l));

        return text.joinIntoString ("\n");
    }

    juce::String fixture (const char* name)
    {
        return juce::File (QVR_FIREWALL_ANSWERS).getChildFile (name).loadFileAsString();
    }
}

TEST (NetworkCheck, EachInterfaceSaysWhatItMeansForTheMixer)
{
    const auto lines = textOf (NetworkCheck::interfaceFindings ({
        entry ("lo", 0x7f000001, 8),
        entry ("eth0", 0xc0a80114, 24),
        entry ("eth5", 0x0a000505, 0),
        entry ("eth1", 0xa9fe0709, 16),
        entry ("eth2", 0x0a000005, 31),
        entry ("eth3", 0x0a000105, 32),
        entry ("eth4", 0xc0a80214, 24, false),
        entry ("ppp0", 0x0a080002, 24, true, true),
        entry ("wg0", 0x0a090002, 24),
    }));

    const char* const expected[] = {
        "\xe2\x9c\x93 interface eth0: 192.168.1.20/24, broadcast 192.168.1.255",
        "\xe2\x9c\x93 interface eth5: 10.0.5.5/0, broadcast 255.255.255.255",
        "! interface eth1: 169.254.7.9/16, broadcast 169.254.255.255: link-local, as when no DHCP server answered;",
        "! interface eth2: 10.0.0.5/31, broadcast 10.0.0.5: a /31 has no broadcast",
        "! interface eth3: 10.0.1.5/32, broadcast 10.0.1.5: a /32 has no broadcast",
        "! interface eth4: 192.168.2.20/24, broadcast 192.168.2.255: down,",
        "! interface ppp0: 10.8.0.2/24, broadcast 10.8.0.255: a tunnel or VPN adapter",
        "! interface wg0: 10.9.0.2/24, broadcast 10.9.0.255: a tunnel or VPN adapter",
    };

    juce::StringArray got;
    got.addLines (lines);
    ASSERT_EQ (got.size(), (int) std::size (expected)) << lines;

    for (int i = 0; i < got.size(); ++i)
        EXPECT_TRUE (got[i].startsWith (juce::String::fromUTF8 (expected[i]))) << got[i];

    // Where no interface can reach a mixer, that blocks; with none at all, the update's I9.
    EXPECT_TRUE (textOf (NetworkCheck::interfaceFindings ({ entry ("eth4", 0xc0a80214, 24, false), entry ("eth3", 0x0a000105, 32) }))
                     .endsWith (juce::String::fromUTF8 ("\xe2\x9c\x97 interfaces: none where a mixer could hear the announcements"
                                                        " \xe2\x80\x94 fix: connect this computer to the mixer's network by cable or Wi-Fi")));
    EXPECT_TRUE (textOf (NetworkCheck::interfaceFindings ({ entry ("lo", 0x7f000001, 8) }))
                     .startsWith (juce::String::fromUTF8 ("\xe2\x9c\x97 interfaces: no IPv4 interface besides 127.0.0.1 (the update stops with I9)")));
}

TEST (FirewallVerdicts, RecordedAnswersOfUfwFirewalldAndNft)
{
    using firewallverdicts::Answer;
    const Answer absent { false, 0, {} }, running { true, 0, "running\n" }, publicZone { true, 0, "public\n" };
    const auto answer = [] (const char* file, int exitCode) { return Answer { true, exitCode, fixture (file) }; };
    const juce::StringArray eth0 { "eth0" }, both { "qvr0", "eth0" }, eth0AndWlan0 { "eth0", "wlan0" };
    const std::vector<Ipv4Interface> lan { entry ("eth0", 0xc0a80114, 24) }, elsewhere { entry ("eth0", 0x0a000005, 24) },
        three { entry ("eth0", 0xc0000201, 24), entry ("eth1", 0xc6336401, 24), entry ("wlan0", 0xcb007101, 24) };
    const std::string allowService = " \xe2\x80\x94 fix: sudo firewall-cmd --permanent --zone=public --add-service=qvr-updater && sudo firewall-cmd --reload";

    // The ufw answers were recorded from Debian's ufw 0.36 in a network namespace of their own,
    // with private copies of /etc/ufw and /etc/default/ufw bind-mounted in a mount namespace.
    const std::pair<std::vector<CheckFinding>, std::string> cases[] = {
        { firewallverdicts::ufw (absent, false, true, lan, 54000), "\xe2\x9c\x93 firewall ufw: not installed" },
        { firewallverdicts::ufw (answer ("ufw-inactive.txt", 0), true, true, lan, 54000), "\xe2\x9c\x93 firewall ufw: inactive" },
        { firewallverdicts::ufw (answer ("ufw-nonroot.txt", 1), false, true, lan, 54000), "\xe2\x9c\x93 firewall ufw: not enabled (/etc/ufw/ufw.conf)" },
        { firewallverdicts::ufw (answer ("ufw-nonroot.txt", 1), true, true, lan, 54000),
          "! firewall ufw: could not check: ufw is enabled, and only root may ask it for its rules \xe2\x80\x94 fix: sudo qvr-update --check" },
        { firewallverdicts::ufw (answer ("ufw-denied.txt", 0), true, true, lan, 54000),
          "\xe2\x9c\x97 firewall ufw: active; no rule lets TCP 54000 in (incoming: deny) \xe2\x80\x94 fix: sudo ufw allow qvr-updater" },
        { firewallverdicts::ufw (answer ("ufw-denied.txt", 0), true, false, lan, 54000),
          "\xe2\x9c\x97 firewall ufw: active; no rule lets TCP 54000 in (incoming: deny) \xe2\x80\x94 fix: sudo ufw allow 54000/tcp" },
        { firewallverdicts::ufw (answer ("ufw-from-subnet.txt", 0), true, true, elsewhere, 54000),
          "! firewall ufw: active; only \"54000/tcp (qvr-updater) ALLOW IN 192.168.1.0/24\" lets TCP 54000 in, from some addresses"
          " \xe2\x80\x94 fix: sudo ufw insert 1 allow qvr-updater" },
        { firewallverdicts::ufw (answer ("ufw-from-subnet.txt", 0), true, true, lan, 54000),
          "\xe2\x9c\x93 firewall ufw: active; \"54000/tcp (qvr-updater) ALLOW IN 192.168.1.0/24\" lets TCP 54000 in" },
        { firewallverdicts::ufw (answer ("ufw-allowed.txt", 0), true, false, lan, 56000),
          "\xe2\x9c\x97 firewall ufw: active; no rule lets TCP 56000 in (incoming: deny) \xe2\x80\x94 fix: sudo ufw allow 56000/tcp" },
        { firewallverdicts::ufw (answer ("ufw-allowed.txt", 0), true, true, three, 54000),
          "\xe2\x9c\x93 firewall ufw: active; \"54000/tcp (qvr-updater) ALLOW IN Anywhere\" lets TCP 54000 in" },
        { firewallverdicts::ufw (answer ("ufw-comment.txt", 0), true, true, lan, 54000),
          "\xe2\x9c\x97 firewall ufw: active; \"54000/tcp DENY IN Anywhere\" refuses TCP 54000 \xe2\x80\x94 fix: sudo ufw insert 1 allow qvr-updater" },
        { firewallverdicts::ufw (answer ("ufw-interfaces.txt", 0), true, false, three, 54000),
          "\xe2\x9c\x93 firewall ufw (eth0): active; \"54000/tcp ALLOW IN 192.0.2.0/24\" lets TCP 54000 in\n"
          "\xe2\x9c\x93 firewall ufw (eth1): active; \"54000/tcp on eth1 ALLOW IN Anywhere\" lets TCP 54000 in\n"
          "! firewall ufw (wlan0): active; only \"54000/tcp ALLOW IN 192.0.2.0/24\" lets TCP 54000 in, from some addresses \xe2\x80\x94 fix: sudo ufw allow 54000/tcp" },
        { firewallverdicts::firewalld (answer ("firewalld-not-running.txt", 252), {}, {}, eth0, true, 54000), "\xe2\x9c\x93 firewall firewalld: not running" },
        { firewallverdicts::firewalld (answer ("firewalld-nonroot.txt", 253), {}, {}, eth0, true, 54000),
          "! firewall firewalld: could not check: firewalld answers only root here \xe2\x80\x94 fix: sudo qvr-update --check" },
        { firewallverdicts::firewalld (running, publicZone, answer ("firewalld-zones-denied.txt", 0), eth0, true, 54000),
          "\xe2\x9c\x97 firewall firewalld zone public (eth0): qvr-updater not enabled and TCP 54000 not open" + allowService },
        { firewallverdicts::firewalld (running, publicZone, { true, 0, fixture ("firewalld-zones-denied.txt").replace ("ssh", "qvr-updater ssh") }, eth0, true, 54000),
          "\xe2\x9c\x93 firewall firewalld zone public (eth0): service qvr-updater enabled" },
        { firewallverdicts::firewalld (running, publicZone, answer ("firewalld-zones-mixed.txt", 0), both, true, 54000),
          "\xe2\x9c\x93 firewall firewalld zone trusted (qvr0): the zone lets everything in\n"
          "\xe2\x9c\x93 firewall firewalld zone public (eth0): TCP 54000 open" },
        { firewallverdicts::firewalld (running, publicZone, answer ("firewalld-zones-mixed.txt", 0), eth0, false, 56000),
          "! firewall firewalld zone public (eth0): qvr-updater not enabled; the zone's rich rules may let TCP 56000 in, which this check does not read"
          " \xe2\x80\x94 fix: sudo firewall-cmd --permanent --zone=public --add-port=56000/tcp && sudo firewall-cmd --reload" },
        { { firewallverdicts::nftables (absent, eth0, 54000) },
          "! firewall nftables: could not check: nft is not installed \xe2\x80\x94 fix: sudo apt install nftables, then check again" },
        { { firewallverdicts::nftables (answer ("nft-nonroot.txt", 1), eth0, 54000) },
          "! firewall nftables: could not check: only root may read the rules \xe2\x80\x94 fix: sudo qvr-update --check" },
        { { firewallverdicts::nftables (answer ("nft-empty.txt", 0), eth0, 54000) }, "\xe2\x9c\x93 firewall nftables: no input rules" },
        { { firewallverdicts::nftables (answer ("nft-drop-port.txt", 0), eth0, 54000) },
          "\xe2\x9c\x97 firewall nftables: rule 2 of chain inet qvrtest input drops TCP 54000 \xe2\x80\x94 fix: sudo nft insert rule inet qvrtest input tcp dport 54000 accept" },
        { { firewallverdicts::nftables (answer ("nft-policy-allowed.txt", 0), eth0, 54000) }, "\xe2\x9c\x93 firewall nftables: the input rules let TCP 54000 in" },
        { { firewallverdicts::nftables (answer ("nft-policy-denied.txt", 0), eth0, 54000) },
          "\xe2\x9c\x97 firewall nftables: the policy of chain inet qvrtest input drops TCP 54000 \xe2\x80\x94 fix: sudo nft insert rule inet qvrtest input tcp dport 54000 accept" },
        { { firewallverdicts::nftables (answer ("nft-jump.txt", 0), eth0, 54000) }, "\xe2\x9c\x93 firewall nftables: the input rules let TCP 54000 in" },
        { { firewallverdicts::nftables (answer ("nft-jump.txt", 0), eth0AndWlan0, 54000) },
          "! firewall nftables: the policy of chain ip guard input may drop TCP 54000, depending on ip saddr (on wlan0) \xe2\x80\x94 fix: sudo nft insert rule ip guard input tcp dport 54000 accept" },
        { { firewallverdicts::nftables (answer ("nft-xt-match.txt", 0), eth0, 54000) },
          "! firewall nftables: rule 2 of chain ip filter INPUT may drop TCP 54000, depending on iptables match recent \xe2\x80\x94 fix: sudo nft insert rule ip filter INPUT tcp dport 54000 accept" },
    };

    for (auto& [lines, expected] : cases)
        EXPECT_EQ (textOf (lines), juce::String::fromUTF8 (expected.c_str()));

    // Where ufw's rules are in force, the nftables lines would only repeat them: when it says it is
    // active, whatever ufw.conf says, and when it would not say, as ufw.conf says.
    EXPECT_TRUE (firewallverdicts::ufwMayBeOn (answer ("ufw-denied.txt", 0), false));
    EXPECT_TRUE (firewallverdicts::ufwMayBeOn (answer ("ufw-nonroot.txt", 1), true));
    EXPECT_FALSE (firewallverdicts::ufwMayBeOn (answer ("ufw-nonroot.txt", 1), false));
}

// Answers as Windows gives them (there is no Windows firewall to ask under
// Wine): each interface's network kind, each kind's profile, the rules.
TEST (WindowsFirewallVerdicts, KindProfileAndRulesDecideForEachInterface)
{
    using namespace windowsfirewall;
    Answers a;
    a.programs = { "C:\\Tools\\qvr-update.exe", "C:\\Tools\\QvrUpdater.exe" };
    a.interfaces = { { 0xc0a80114, "Ethernet", privateNetwork }, { 0x0a000005, "Wi-Fi", publicNetwork },
                     { 0xac100001, "", domain }, { 0x0a080002, "VPN", 0 } };
    a.privateState = a.publicState = { true, true, false };
    a.domainState = { true, false, false };
    a.rules = { { "Other program", "C:\\Other\\x.exe", "54000", true, true, false, 6, privateNetwork | publicNetwork },
                { "Disabled", "", "54000", false, true, true, 6, publicNetwork },
                { "Outbound", "", "54000", true, false, true, 6, publicNetwork },
                { "UDP", "", "54000", true, true, true, 17, publicNetwork },
                { "Elsewhere", "", "80,443", true, true, true, 6, publicNetwork },
                { "QVR range", "c:\\tools\\QVR-UPDATE.EXE", "50000-55000", true, true, false, 256, privateNetwork } };

    const auto lines = [&a] { return juce::StringArray::fromLines (textOf (verdicts (a, 54000))); };

    const auto allow = juce::String::fromUTF8 (" \xe2\x80\x94 fix: as administrator: netsh advfirewall firewall add rule name=\"QVR Firmware Downloader (qvr-update)\""
                                              " dir=in action=allow program=\"C:\\Tools\\qvr-update.exe\" protocol=TCP localport=54000 profile=any");
    const juce::String expected[] = {
        juce::String::fromUTF8 ("\xe2\x9c\x93 firewall on Ethernet 192.168.1.20: Private network; the rule \"QVR range\" lets the mixer in"),
        "! firewall on Wi-Fi 10.0.0.5: Public network; the firewall is on and no rule lets the mixer in yet: Windows asks at the first start" + allow,
        juce::String::fromUTF8 ("\xe2\x9c\x93 firewall on 172.16.0.1: Domain network; the firewall is off for it"),
        juce::String::fromUTF8 ("! firewall on VPN 10.8.0.2: could not check: no network is known for this adapter"
                                " \xe2\x80\x94 fix: see Settings > Network: the mixer's network should be Private, with the tools allowed") };
    EXPECT_EQ (textOf (verdicts (a, 54000)), juce::StringArray (expected, 4).joinIntoString ("\n"));

    a.rules.push_back ({ "Block QVR", "", "*", true, true, true, 256, publicNetwork | privateNetwork });
    EXPECT_EQ (lines()[1], juce::String::fromUTF8 ("\xe2\x9c\x97 firewall on Wi-Fi 10.0.0.5: Public network; the rule \"Block QVR\" blocks this program or TCP 54000"
                                                    " \xe2\x80\x94 fix: run allow-firewall.cmd beside qvr-update.exe: it replaces the rules of these tools"));
    EXPECT_TRUE (lines()[0].contains ("the rule \"Block QVR\" blocks")) << "a block wins over an allow";

    a.publicState.blocksAllInbound = true;
    EXPECT_EQ (lines()[1], juce::String::fromUTF8 ("\xe2\x9c\x97 firewall on Wi-Fi 10.0.0.5: Public network; the firewall blocks every incoming connection"
                                                    " \xe2\x80\x94 fix: in Windows Security > Firewall > Public network, clear \"Block all incoming connections\""));

    a.rulesWhy = "error 0x80070005";
    EXPECT_EQ (lines()[0], "! firewall on Ethernet 192.168.1.20: Private network; the firewall is on; could not check its rules (error 0x80070005)" + allow);

    a.firewallWhy = "Windows Defender Firewall did not answer (error 0x800706d9)";
    EXPECT_EQ (lines()[2], "! firewall on 172.16.0.1: Domain network; could not check: Windows Defender Firewall did not answer (error 0x800706d9)" + allow);
}

// Blocks before warnings, in the check's order; only findings the window has a
// text for; the names, commands and numbers put in, in either language.
TEST (NetworkHint, WhatMattersMostInTheUsersLanguage)
{
    using K = CheckFinding::Kind;
    const CheckFinding linkLocal { CheckFinding::warning, "interface eth1", "", "", K::linkLocal, "eth1" },
                       unreadable { CheckFinding::unchecked, "firewall ufw", "", "sudo qvr-update --check", K::firewallOn, "ufw" },
                       mayDrop { CheckFinding::warning, "firewall nftables", "", "sudo nft insert rule ip f in tcp dport 54000 accept", K::firewallBlocks, "nftables" },
                       windows { CheckFinding::blocking, "firewall on Wi-Fi 10.0.0.5", "", "", K::windowsFirewallBlocks, "Private" },
                       untold { CheckFinding::blocking, "file fw.upd", "does not exist", "give the update file" };

    const struct { std::vector<CheckFinding> findings; int language; const char* text; } cases[] = {
        { { untold }, 0, "No mixer yet? It must be on the same network as this PC, and waiting for the update." },
        { { linkLocal, mayDrop, windows }, 1, "Windows ファイアウォールが、このプライベートネットワークでミキサーの接続を妨げています。"
                                              "このプログラムの横の allow-firewall.cmd を実行してください（管理者の権限を求められます）。" },
        { { linkLocal, unreadable }, 0, "eth1 got no address from the network (169.254...). On a direct cable, give the mixer a 169.254 address too." },
        { { unreadable, mayDrop }, 0, "The firewall (ufw) is on. To let the mixer in:\nsudo ufw allow 54000/tcp" },
        { { mayDrop }, 0, "The firewall (nftables) may keep the mixer out. To let it in:\nsudo nft insert rule ip f in tcp dport 54000 accept" },
    };

    for (auto& c : cases)
        EXPECT_EQ (NetworkHint::from (c.findings, 54000).text (c.language), juce::String::fromUTF8 (c.text));
}

#include <gtest/gtest.h>

#include "check/WindowsFirewallVerdicts.h"
#include "cli/CheckReport.h"

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

    const auto lines = [&a]
    {
        juce::StringArray text;

        for (auto& f : verdicts (a, 54000))
            text.add (checkreport::toText (f));

        return text;
    };

    const auto allow = juce::String::fromUTF8 (" \xe2\x80\x94 fix: as administrator: netsh advfirewall firewall add rule name=\"QVR Firmware Downloader (qvr-update)\""
                                              " dir=in action=allow program=\"C:\\Tools\\qvr-update.exe\" protocol=TCP localport=54000 profile=any");
    const juce::String expected[] = {
        juce::String::fromUTF8 ("\xe2\x9c\x93 firewall on Ethernet 192.168.1.20: Private network; the rule \"QVR range\" lets the mixer in"),
        "! firewall on Wi-Fi 10.0.0.5: Public network; the firewall is on and no rule lets the mixer in yet: Windows asks at the first start" + allow,
        juce::String::fromUTF8 ("\xe2\x9c\x93 firewall on 172.16.0.1: Domain network; the firewall is off for it"),
        juce::String::fromUTF8 ("! firewall on VPN 10.8.0.2: could not check: no network is known for this adapter"
                                " \xe2\x80\x94 fix: see Settings > Network: the mixer's network should be Private, with the tools allowed") };
    EXPECT_EQ (lines().joinIntoString ("\n"), juce::StringArray (expected, 4).joinIntoString ("\n"));

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

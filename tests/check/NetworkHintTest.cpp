#include <gtest/gtest.h>

#include "check/NetworkHint.h"

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

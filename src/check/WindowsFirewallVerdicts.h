#pragma once

#include <cstdint>
#include <vector>

#include "check/CheckFinding.h"

/** The Windows firewall's part of the network check, judged from what the
    system answered: each interface's network kind (the network list), each
    kind's firewall profile and the inbound rules. These only read the
    answers; FirewallCheckWindows.cpp asks the system, so that the verdicts
    can be tried on recorded answers anywhere.
*/
namespace windowsfirewall
{
    /** The firewall's profiles, as the profile bits of its rules (NET_FW_PROFILE2_*). */
    enum Profile
    {
        domain = 1,
        privateNetwork = 2,
        publicNetwork = 4
    };

    /** One interface the update uses, with the profile of its network; 0 when no network is known for it. */
    struct Interface
    {
        std::uint32_t address = 0;
        juce::String adapter;       // the adapter's name for people; empty when unknown
        int profile = 0;
    };

    /** What the firewall says of one profile. */
    struct ProfileState
    {
        bool answered = false;      // false: it would not tell whether it is on
        bool enabled = true;
        bool blocksAllInbound = false;
    };

    /** One firewall rule, as the system lists it. */
    struct Rule
    {
        juce::String name, program, ports;  // program with its environment variables expanded; empty: any
        bool enabled = true, inbound = true, blocks = false;
        long protocol = 0;                  // 6 TCP, 256 any
        long profiles = 0;                  // Profile bits
    };

    struct Answers
    {
        std::vector<Interface> interfaces;
        juce::String networksWhy;           // why the network list did not answer, if it did not
        juce::String firewallWhy;           // why the firewall did not answer, if it did not
        ProfileState domainState, privateState, publicState;
        juce::String rulesWhy;              // why the rules could not be read, if they could not
        std::vector<Rule> rules;
        juce::StringArray programs;         // this tool's own executables, full paths
    };

    /** One finding per interface: whether the mixer's connection to TCP `port` gets in. */
    std::vector<CheckFinding> verdicts (const Answers& answers, int port);
}

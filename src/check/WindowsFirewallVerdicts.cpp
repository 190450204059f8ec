#include "check/WindowsFirewallVerdicts.h"

namespace windowsfirewall
{
namespace
{
    constexpr long tcpProtocol = 6, anyProtocol = 256;

    bool portsHold (const juce::String& ports, int port)
    {
        if (ports.isEmpty() || ports == "*")
            return true;

        for (auto& p : juce::StringArray::fromTokens (ports, ",", ""))
        {
            const auto low = p.upToFirstOccurrenceOf ("-", false, false).getIntValue();
            const auto high = p.contains ("-") ? p.fromFirstOccurrenceOf ("-", false, false).getIntValue() : low;

            if (low <= port && port <= high)
                return true;
        }

        return false;
    }

    // What the rules say about TCP `port` for this tool, per profile bit; the
    // first rule that reaches a profile names it.
    struct RuleVerdict
    {
        long allowed = 0, blocked = 0;
        juce::String allowedBy, blockedBy;
    };

    RuleVerdict readRules (const Answers& answers, int port)
    {
        RuleVerdict verdict;

        for (auto& rule : answers.rules)
        {
            const auto forUs = rule.program.isEmpty() || answers.programs.contains (rule.program, true);

            if (! rule.enabled || ! rule.inbound || ! forUs || (rule.protocol != tcpProtocol && rule.protocol != anyProtocol)
                || ! portsHold (rule.ports.trim(), port))
                continue;

            auto& mask = rule.blocks ? verdict.blocked : verdict.allowed;
            auto& by = rule.blocks ? verdict.blockedBy : verdict.allowedBy;

            if ((rule.profiles & ~mask) != 0 && by.isEmpty())
                by = rule.name;

            mask |= rule.profiles;
        }

        return verdict;
    }

    const char* kindOf (int profile)
    {
        return profile == privateNetwork ? "Private network" : profile == domain ? "Domain network" : "Public network";
    }

    const ProfileState& stateOf (const Answers& answers, int profile)
    {
        return profile == privateNetwork ? answers.privateState : profile == domain ? answers.domainState : answers.publicState;
    }
}

std::vector<CheckFinding> verdicts (const Answers& answers, int port)
{
    std::vector<CheckFinding> findings;
    const auto allowFix = "as administrator: netsh advfirewall firewall add rule name=\"QVR Firmware Downloader (qvr-update)\" dir=in action=allow program=\""
                        + answers.programs[0] + "\" protocol=TCP localport=" + juce::String (port) + " profile=any";
    const auto rules = readRules (answers, port);

    for (auto& i : answers.interfaces)
    {
        const auto check = "firewall on " + (i.adapter.isNotEmpty() ? i.adapter + " " : juce::String()) + juce::IPAddress (i.address).toString();

        if (i.profile == 0)
        {
            findings.push_back ({ CheckFinding::unchecked, check,
                                  "could not check: " + (answers.networksWhy.isNotEmpty() ? answers.networksWhy : "no network is known for this adapter")
                                      + (answers.firewallWhy.isNotEmpty() ? "; " + answers.firewallWhy : juce::String()),
                                  "see Settings > Network: the mixer's network should be Private, with the tools allowed" });
            continue;
        }

        const juce::String kind (kindOf (i.profile));
        const auto& state = stateOf (answers, i.profile);

        if (answers.firewallWhy.isNotEmpty() || ! state.answered)
            findings.push_back ({ CheckFinding::unchecked, check,
                                  kind + "; could not check: " + (answers.firewallWhy.isNotEmpty() ? answers.firewallWhy : "the firewall did not tell whether it is on"),
                                  allowFix });
        else if (! state.enabled)
            findings.push_back ({ CheckFinding::ok, check, kind + "; the firewall is off for it", {} });
        else if (state.blocksAllInbound)
            findings.push_back ({ CheckFinding::blocking, check, kind + "; the firewall blocks every incoming connection",
                                  "in Windows Security > Firewall > " + kind + ", clear \"Block all incoming connections\"",
                                  CheckFinding::Kind::windowsFirewallBlocks, kind.upToFirstOccurrenceOf (" ", false, false) });
        else if (answers.rulesWhy.isNotEmpty())
            findings.push_back ({ CheckFinding::unchecked, check, kind + "; the firewall is on; could not check its rules (" + answers.rulesWhy + ")", allowFix });
        else if ((rules.blocked & i.profile) != 0)
            findings.push_back ({ CheckFinding::blocking, check, kind + "; the rule \"" + rules.blockedBy + "\" blocks this program or TCP " + juce::String (port),
                                  "run allow-firewall.cmd beside qvr-update.exe: it replaces the rules of these tools",
                                  CheckFinding::Kind::windowsFirewallBlocks, kind.upToFirstOccurrenceOf (" ", false, false) });
        else if ((rules.allowed & i.profile) != 0)
            findings.push_back ({ CheckFinding::ok, check, kind + "; the rule \"" + rules.allowedBy + "\" lets the mixer in", {} });
        else
            findings.push_back ({ CheckFinding::warning, check, kind + "; the firewall is on and no rule lets the mixer in yet: Windows asks at the first start",
                                  allowFix, CheckFinding::Kind::windowsFirewallAsks, kind.upToFirstOccurrenceOf (" ", false, false) });
    }

    return findings;
}
} // namespace windowsfirewall

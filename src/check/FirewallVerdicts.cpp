#include "check/FirewallVerdicts.h"
#include "platform/SystemText.h"

#include <algorithm>
#include <map>

namespace firewallverdicts
{
namespace
{
    // Columns padded with runs of spaces: the words alone.
    juce::StringArray words (const juce::String& text)
    {
        auto result = juce::StringArray::fromTokens (text, " \t", "");
        result.removeEmptyStrings();
        return result;
    }

    juce::String firstLine (const juce::String& text)
    {
        return text.trim().upToFirstOccurrenceOf ("\n", false, false).trim();
    }

    CheckFinding line (const juce::String& check, CheckFinding::Status status, const juce::String& detail, const juce::String& fix = {})
    {
        return { status, check, detail, fix };
    }

    // What keeps the mixer out, or may, as the window tells it: the firewall and the command that lets it in.
    CheckFinding keepsOut (CheckFinding finding, const char* firewall, const juce::String& command = {})
    {
        finding.kind = CheckFinding::Kind::firewallBlocks;
        finding.name = firewall;
        finding.command = command;
        return finding;
    }

    CheckFinding couldNotCheck (const juce::String& check, const juce::String& why, const juce::String& fix)
    {
        return line (check, CheckFinding::unchecked, "could not check: " + why, fix);
    }

    bool needsRoot (const Answer& a)
    {
        return a.output.containsIgnoreCase ("root") || a.output.contains ("Operation not permitted")
            || a.output.contains ("Authorization failed");
    }

    // "54000", "50000:55000" (ufw) or "50000-55000" (firewalld) holds the port.
    bool portsInclude (const juce::String& ports, int port)
    {
        const auto range = ports.replaceCharacter ('-', ':');
        const auto low = range.upToFirstOccurrenceOf (":", false, false).getIntValue();
        const auto high = range.contains (":") ? range.fromFirstOccurrenceOf (":", false, false).getIntValue() : low;
        return range.containsOnly ("0123456789:") && low <= port && port <= high;
    }

    // A ufw "To" column without its interface, such as "54000/tcp (qvr-updater)",
    // "80,443/tcp" or "192.0.2.1 54000/tcp": true when it takes TCP `port`.
    bool ufwTargetHolds (const juce::StringArray& to, int port)
    {
        for (auto& t : to)
        {
            const auto ports = t.upToFirstOccurrenceOf ("/", false, false);
            const auto protocol = t.fromFirstOccurrenceOf ("/", false, false);

            if (ports.isEmpty() || ! ports.containsOnly ("0123456789,:"))
                continue;

            if (protocol.isNotEmpty() && protocol != "tcp")
                return false;

            for (auto& s : juce::StringArray::fromTokens (ports, ",", ""))
                if (portsInclude (s, port))
                    return true;

            return false;
        }

        // Only addresses: every port.
        return true;
    }

    // True when a ufw source such as "192.0.2.0/24" or "192.0.2.7" holds every
    // address of the interface's subnet: every mixer there.
    bool sourceHoldsSubnet (const juce::String& source, const Ipv4Interface& i)
    {
        const auto bytes = juce::StringArray::fromTokens (source.upToFirstOccurrenceOf ("/", false, false), ".", "");
        const auto bits = source.contains ("/") ? source.fromFirstOccurrenceOf ("/", false, false) : juce::String ("32");
        std::uint32_t network = 0;

        if (bytes.size() != 4 || bits.isEmpty() || ! bits.containsOnly ("0123456789") || bits.getIntValue() > 32)
            return false;

        for (auto& b : bytes)
        {
            if (b.isEmpty() || ! b.containsOnly ("0123456789") || b.getIntValue() > 255)
                return false;

            network = (network << 8) | (std::uint32_t) b.getIntValue();
        }

        const auto mask = bits.getIntValue() == 0 ? 0u : 0xffffffffu << (32 - bits.getIntValue());
        return (mask & ~i.netmask) == 0 && ((network ^ i.address) & mask) == 0;
    }

    // One incoming ufw rule for TCP to the port.
    struct UfwRule
    {
        juce::String text, onInterface, from;   // onInterface empty: every interface
        bool allows = false;
    };

    // ufw's verdict on a new connection from a mixer on interface `i`: the
    // first rule that holds there for every mixer on its subnet decides, else
    // the default for incoming connections.
    CheckFinding ufwOn (const std::vector<UfwRule>& rules, const juce::String& incoming, const Ipv4Interface& i,
                        const juce::String& allowIt, int port)
    {
        const juce::String check = "firewall ufw";
        juce::String onlyFromSome;   // an allowing rule for some sources, which the mixer may or may not be

        // An allowing rule goes before a refusing one; on an empty list ufw has no place 1.
        const auto refused = [&] (const juce::String& why, bool byRule)
        {
            const auto fix = (byRule ? "sudo ufw insert 1 allow " : "sudo ufw allow ") + allowIt;

            if (onlyFromSome.isNotEmpty())
                return keepsOut (line (check, CheckFinding::warning, "active; only \"" + onlyFromSome + "\" lets TCP " + juce::String (port) + " in, from some addresses", fix), "ufw");

            return keepsOut (line (check, CheckFinding::blocking, "active; " + why, fix), "ufw");
        };

        for (auto& r : rules)
        {
            if (r.onInterface.isNotEmpty() && r.onInterface != systemtext::readable (i.name))
                continue;

            if (r.from != "Anywhere" && ! sourceHoldsSubnet (r.from, i))
            {
                onlyFromSome = onlyFromSome.isEmpty() && r.allows ? r.text : onlyFromSome;
                continue;
            }

            if (r.allows)
                return line (check, CheckFinding::ok, "active; \"" + r.text + "\" lets TCP " + juce::String (port) + " in");

            return refused ("\"" + r.text + "\" refuses TCP " + juce::String (port), true);
        }

        if (incoming == "allow")
            return line (check, CheckFinding::ok, "active; lets everything in that no rule refuses");

        if (incoming == "deny" || incoming == "reject")
            return refused ("no rule lets TCP " + juce::String (port) + " in (incoming: " + incoming + ")", false);

        return couldNotCheck (check, "ufw status gave no default for incoming connections", "see what sudo ufw status verbose says");
    }
}

bool ufwMayBeOn (const Answer& status, bool enabledAtStart)
{
    if (! status.installed)
        return false;

    if (status.output.contains ("Status: active"))
        return true;

    return ! status.output.contains ("Status: inactive") && enabledAtStart;
}

std::vector<CheckFinding> ufw (const Answer& status, bool enabledAtStart, bool profileInstalled,
                               const std::vector<Ipv4Interface>& interfaces, int port)
{
    const juce::String check = "firewall ufw";
    const juce::String allowIt = profileInstalled ? "qvr-updater" : juce::String (port) + "/tcp";

    if (! status.installed)
        return { line (check, CheckFinding::ok, "not installed") };

    if (status.output.contains ("Status: inactive"))
        return { line (check, CheckFinding::ok, "inactive") };

    if (! status.output.contains ("Status: active"))
    {
        if (! enabledAtStart)
            return { line (check, CheckFinding::ok, "not enabled (/etc/ufw/ufw.conf)") };

        if (needsRoot (status))
        {
            auto on = couldNotCheck (check, "ufw is enabled, and only root may ask it for its rules", "sudo qvr-update --check");
            on.kind = CheckFinding::Kind::firewallOn;
            on.name = "ufw";
            return { on };
        }

        return { couldNotCheck (check, "ufw status said \"" + firstLine (status.output) + "\"", "see what sudo ufw status verbose says") };
    }

    std::vector<UfwRule> rules;
    juce::StringArray lines;
    lines.addLines (status.output);

    for (auto& full : lines)
    {
        // To, Action (with its direction) and From, in columns of varying width, then
        // the rule's comment if it has one; the lines above the table hold no action word.
        static const juce::StringArray actions { "ALLOW", "DENY", "REJECT", "LIMIT" };
        const auto l = full.upToFirstOccurrenceOf (" # ", false, false);
        const auto tokens = words (l);
        const auto actionAt = [&] { for (int i = 0; i < tokens.size(); ++i) if (actions.contains (tokens[i])) return i; return -1; }();

        if (actionAt < 1 || l.contains ("(v6)") || tokens[actionAt + 1] == "OUT" || tokens[actionAt + 1] == "FWD")
            continue;

        // "54000/tcp on eth0": the rule holds on that interface alone.
        auto to = words (l.substring (0, l.indexOf (tokens[actionAt])));
        const auto onAt = to.indexOf ("on");
        const auto onInterface = onAt >= 0 ? to[onAt + 1] : juce::String();

        if (onAt >= 0)
            to.removeRange (onAt, 2);

        if (! ufwTargetHolds (to, port))
            continue;

        const auto fromAt = actionAt + (tokens[actionAt + 1] == "IN" ? 2 : 1);
        rules.push_back ({ tokens.joinIntoString (" "), onInterface, tokens.joinIntoString (" ", fromAt),
                           tokens[actionAt] == "ALLOW" || tokens[actionAt] == "LIMIT" });
    }

    const auto incoming = status.output.fromFirstOccurrenceOf ("Default: ", false, false).upToFirstOccurrenceOf (" (incoming)", false, false);

    // Each interface the update uses on its own, in one line where they all come to the same.
    std::vector<std::pair<CheckFinding, juce::StringArray>> verdicts;

    for (auto& i : interfaces.empty() ? std::vector<Ipv4Interface> (1) : interfaces)
    {
        const auto f = ufwOn (rules, incoming, i, allowIt, port);
        auto same = std::find_if (verdicts.begin(), verdicts.end(), [&] (auto& v) { return v.first.detail == f.detail && v.first.status == f.status; });

        if (same == verdicts.end())
            same = verdicts.insert (verdicts.end(), { f, {} });

        same->second.add (i.name.empty() ? juce::IPAddress (i.address).toString() : systemtext::readable (i.name));
    }

    std::vector<CheckFinding> result;

    for (auto& [f, on] : verdicts)
    {
        result.push_back (f);

        if (verdicts.size() > 1)
            result.back().check << " (" << on.joinIntoString (", ") << ")";
    }

    return result;
}

//==============================================================================
bool firewalldRuns (const Answer& state)
{
    return state.installed && state.exitCode == 0 && state.output.trim() == "running";
}

std::vector<CheckFinding> firewalld (const Answer& state, const Answer& defaultZone, const Answer& zones,
                                  const juce::StringArray& interfaceNames, bool serviceInstalled, int port)
{
    const juce::String check = "firewall firewalld";

    if (! state.installed)
        return { line (check, CheckFinding::ok, "not installed") };

    if (state.output.trim() == "not running")
        return { line (check, CheckFinding::ok, "not running") };

    // firewalld serves on the system bus and cannot run without it.
    if (state.output.contains ("DBUS_ERROR") && state.output.contains ("system_bus_socket"))
        return { line (check, CheckFinding::ok, "not running (there is no system D-Bus, which it needs)") };

    if (! firewalldRuns (state) || defaultZone.exitCode != 0 || zones.exitCode != 0)
    {
        const auto& failed = ! firewalldRuns (state) ? state : defaultZone.exitCode != 0 ? defaultZone : zones;

        if (needsRoot (failed))
            return { couldNotCheck (check, "firewalld answers only root here", "sudo qvr-update --check") };

        return { couldNotCheck (check, "firewall-cmd said \"" + firstLine (failed.output) + "\"", "see what firewall-cmd --state says") };
    }

    // Each zone is a block: its name at the line's start, then "  key: value"
    // lines; rich rules follow on lines of their own, indented by a tab.
    struct Zone { juce::String target, interfaces, services, ports, richRules; };
    std::map<juce::String, Zone> known;
    juce::StringArray lines;
    lines.addLines (zones.output);
    Zone* current = nullptr;
    juce::String key;

    for (auto& l : lines)
    {
        if (l.isNotEmpty() && ! juce::CharacterFunctions::isWhitespace (l[0]))
        {
            current = &known[l.upToFirstOccurrenceOf (" ", false, false)];
            continue;
        }

        if (current == nullptr || l.trim().isEmpty())
            continue;

        if (l.startsWith ("\t"))
        {
            if (key == "rich rules")
                current->richRules << l.trim() << "\n";

            continue;
        }

        key = l.trim().upToFirstOccurrenceOf (":", false, false);
        const auto value = " " + l.fromFirstOccurrenceOf (":", false, false).trim() + " ";

        if (key == "target") current->target = value.trim();
        else if (key == "interfaces") current->interfaces = value;
        else if (key == "services") current->services = value;
        else if (key == "ports") current->ports = value;
        else if (key == "rich rules") current->richRules << value.trim();
    }

    // The zones in the order their first interface comes.
    juce::StringArray order;
    std::map<juce::String, juce::StringArray> members;

    for (auto& name : interfaceNames)
    {
        juce::String zone = defaultZone.output.trim();

        for (auto& [zoneName, z] : known)
            if (z.interfaces.contains (" " + name + " "))
                zone = zoneName;

        order.addIfNotAlreadyThere (zone);
        members[zone].add (name);
    }

    if (interfaceNames.isEmpty())
        order.add (defaultZone.output.trim());

    std::vector<CheckFinding> result;

    for (auto& zoneName : order)
    {
        const auto what = check + " zone " + zoneName + (members[zoneName].isEmpty() ? juce::String() : " (" + members[zoneName].joinIntoString (", ") + ")");
        const auto letIn = " --zone=" + zoneName + (serviceInstalled ? " --add-service=qvr-updater" : " --add-port=" + juce::String (port) + "/tcp");
        const auto fix = "sudo firewall-cmd --permanent" + letIn + " && sudo firewall-cmd --reload";
        // For the window, which has two lines: until the next reload, long enough for an update.
        const auto command = "sudo firewall-cmd" + letIn;
        const auto found = known.find (zoneName);

        if (found == known.end())
        {
            result.push_back (couldNotCheck (what, "firewall-cmd did not list this zone", "sudo firewall-cmd --zone=" + zoneName + " --list-all"));
            continue;
        }

        const auto& z = found->second;
        bool portOpen = false;

        for (auto& p : words (z.ports))
            portOpen = portOpen || (p.endsWith ("/tcp") && portsInclude (p.dropLastCharacters (4), port));

        if (z.target == "ACCEPT")
            result.push_back (line (what, CheckFinding::ok, "the zone lets everything in"));
        else if (z.services.contains (" qvr-updater "))
            result.push_back (line (what, CheckFinding::ok, "service qvr-updater enabled"));
        else if (portOpen)
            result.push_back (line (what, CheckFinding::ok, "TCP " + juce::String (port) + " open"));
        else if (z.richRules.isNotEmpty())
            result.push_back (keepsOut (line (what, CheckFinding::warning, "qvr-updater not enabled; the zone's rich rules may let TCP " + juce::String (port)
                                                                            + " in, which this check does not read", fix), "firewalld", command));
        else
            result.push_back (keepsOut (line (what, CheckFinding::blocking, "qvr-updater not enabled and TCP " + juce::String (port) + " not open", fix),
                                        "firewalld", command));
    }

    return result;
}

//==============================================================================
namespace
{
    // What may become of the mixer's connection in a chain: more than one
    // outcome where a rule depends on what the check cannot know (the source
    // address, a rate, a named set). `returns`: the chain may hand it back to
    // the chain that jumped there.
    struct Outcomes
    {
        bool accepted = false, dropped = false, returns = false;
        juce::String dropWhere, dependsOn;

        void add (const Outcomes& o)
        {
            accepted = accepted || o.accepted;
            returns = returns || o.returns;

            if (o.dropped && ! dropped)
            {
                dropped = true;
                dropWhere = o.dropWhere;
            }

            if (dependsOn.isEmpty())
                dependsOn = o.dependsOn;
        }
    };

    enum class Match { yes, no, unknown };

    class RulesetReader
    {
    public:
        RulesetReader (const juce::var& items, int p) : port (p)
        {
            for (auto& item : *items.getArray())
            {
                if (item["chain"].isObject())
                    chains[key (item["chain"], "name")].head = item["chain"];
                else if (item["rule"].isObject())
                    chains[key (item["rule"], "chain")].rules.add (item["rule"]);
            }
        }

        /** The chains that see incoming IPv4 traffic: input hooks of the ip and inet families. */
        juce::StringArray inputChains() const
        {
            juce::StringArray result;

            for (auto& [k, c] : chains)
                if (c.head["hook"].toString() == "input" && (c.head["family"].toString() == "ip" || c.head["family"].toString() == "inet"))
                    result.add (k);

            return result;
        }

        /** The outcomes of a chain for a new connection arriving on the named interface. */
        Outcomes run (const juce::String& chainKey, const juce::String& interfaceName, int depth = 0) const
        {
            Outcomes result;
            const auto found = chains.find (chainKey);

            if (found == chains.end() || depth > 16)
            {
                result.accepted = result.dropped = true;
                result.dropWhere = "chain " + chainKey;
                result.dependsOn = "a jump this check cannot follow";
                return result;
            }

            const auto& chain = found->second;
            const auto name = chain.head["family"].toString() + " " + chain.head["table"].toString() + " " + chain.head["name"].toString();

            for (auto& rule : chain.rules)
            {
                Outcomes outcome;
                bool hasVerdict = false, goesOn = false;
                auto match = Match::yes;
                juce::String unknown;

                for (auto& statement : *rule["expr"].getArray())
                {
                    auto* s = statement.getDynamicObject();

                    if (s == nullptr || s->getProperties().size() != 1)
                        continue;

                    const auto kind = s->getProperties().getName (0).toString();
                    const auto value = s->getProperties().getValueAt (0);
                    // iptables-nft writes some targets as "xt" statements.
                    const auto verdict = kind == "xt" && value["type"].toString() == "target" ? value["name"].toString().toLowerCase() : kind;

                    if (verdict == "accept" || verdict == "drop" || verdict == "reject" || verdict == "return")
                    {
                        hasVerdict = true;
                        outcome.accepted = verdict == "accept";
                        outcome.dropped = verdict == "drop" || verdict == "reject";
                        outcome.returns = verdict == "return";
                        outcome.dropWhere = "rule " + rule["handle"].toString() + " of chain " + name;
                    }
                    else if (kind == "jump" || kind == "goto")
                    {
                        hasVerdict = true;
                        outcome = run (chain.head["family"].toString() + " " + chain.head["table"].toString() + " " + value["target"].toString(),
                                       interfaceName, depth + 1);

                        // Back from a jump, the next rule here decides; back from a goto, this chain is done too.
                        goesOn = kind == "jump" && outcome.returns;
                        outcome.returns = kind == "goto" && outcome.returns;
                    }
                    else if (kind == "match" || (kind != "counter" && kind != "log" && kind != "xt" && kind != "comment"))
                    {
                        const auto m = kind == "match" ? matches (value, interfaceName) : Match::unknown;

                        if (m == Match::unknown && unknown.isEmpty())
                            unknown = kind == "match" ? describe (value["left"]) : kind;

                        match = (m == Match::no || match == Match::no) ? Match::no : (m == Match::unknown ? Match::unknown : match);
                    }
                    else if (kind == "xt" && value["type"].toString() == "match")
                    {
                        // An iptables match this check does not read.
                        match = match == Match::no ? Match::no : Match::unknown;
                        unknown = unknown.isEmpty() ? "iptables match " + value["name"].toString() : unknown;
                    }
                }

                if (match == Match::no || ! hasVerdict)
                    continue;

                if (match == Match::unknown && outcome.dependsOn.isEmpty())
                    outcome.dependsOn = unknown;

                result.add (outcome);

                if (match == Match::yes && ! goesOn)
                    return ending (chain, name, result, false);
            }

            return ending (chain, name, result, true);
        }

    private:
        struct Chain
        {
            juce::var head;
            juce::Array<juce::var> rules;
        };

        // A regular chain hands back to its caller; where a hook's chain
        // would, its policy decides.
        static Outcomes ending (const Chain& chain, const juce::String& name, Outcomes result, bool ranOut)
        {
            if (! ranOut && ! result.returns)
                return result;

            if (chain.head["hook"].isVoid())
            {
                result.returns = true;
                return result;
            }

            result.returns = false;

            if (chain.head["policy"].toString() == "drop")
                result.add ({ false, true, false, "the policy of chain " + name, {} });
            else
                result.accepted = true;

            return result;
        }

        static juce::String key (const juce::var& v, const char* nameField)
        {
            return v["family"].toString() + " " + v["table"].toString() + " " + v[nameField].toString();
        }

        // What a match looks at, in nft's own words: "ip saddr", "meta mark".
        static juce::String describe (const juce::var& left)
        {
            if (auto* o = left.getDynamicObject(); o != nullptr && o->getProperties().size() == 1)
            {
                const auto inner = o->getProperties().getValueAt (0);
                const auto name = o->getProperties().getName (0).toString();

                if (name == "payload")
                    return inner["protocol"].toString() + " " + inner["field"].toString();

                return name + (inner["key"].isVoid() ? juce::String() : " " + inner["key"].toString());
            }

            return "a match this check does not read";
        }

        // Whether `right` (a value, a list, a set or a range) holds `wanted`.
        static bool holds (const juce::var& right, const juce::var& wanted)
        {
            if (auto* list = right.isArray() ? right.getArray() : right["set"].getArray())
                return std::any_of (list->begin(), list->end(), [&] (auto& v) { return holds (v, wanted); });

            if (auto* range = right["range"].getArray(); range != nullptr && range->size() == 2)
                return (int) (*range)[0] <= (int) wanted && (int) wanted <= (int) (*range)[1];

            // Interface names may end in a wildcard: "eth*".
            if (const auto text = right.toString(); right.isString() && text.endsWith ("*"))
                return wanted.toString().startsWith (text.dropLastCharacters (1));

            return right.toString() == wanted.toString();
        }

        Match matches (const juce::var& m, const juce::String& interfaceName) const
        {
            const auto op = m["op"].toString();

            if (op != "==" && op != "!=" && op != "in")
                return Match::unknown;

            const auto left = m["left"], right = m["right"];
            const auto protocol = left["payload"]["protocol"].toString(), field = left["payload"]["field"].toString();
            const auto metaKey = left["meta"]["key"].toString();
            juce::var wanted;

            if ((protocol == "tcp" || protocol == "th") && field == "dport")
                wanted = port;
            else if (protocol == "ip" && field == "protocol")
                wanted = "tcp";
            else if (protocol.isNotEmpty() && protocol != "ip" && protocol != "tcp" && protocol != "th")
                return Match::no;   // an IPv6, UDP or ICMP header: never this connection's
            else if (metaKey == "l4proto")
                wanted = "tcp";
            else if (metaKey == "nfproto")
                wanted = "ipv4";
            else if (left["ct"]["key"].toString() == "state")
                wanted = "new";
            else if ((metaKey == "iifname" || metaKey == "iif") && (interfaceName.isNotEmpty() || right.toString() == "lo"))
                wanted = interfaceName;   // the mixer never comes in on the loopback
            else
                return Match::unknown;

            return holds (right, wanted) == (op != "!=") ? Match::yes : Match::no;
        }

        std::map<juce::String, Chain> chains;
        const int port;
    };
}

CheckFinding nftables (const Answer& ruleset, const juce::StringArray& interfaceNames, int port)
{
    const juce::String check = "firewall nftables";
    const auto what = "TCP " + juce::String (port);

    if (! ruleset.installed)
        return couldNotCheck (check, "nft is not installed", "sudo apt install nftables, then check again");

    if (ruleset.exitCode != 0 && needsRoot (ruleset))
        return couldNotCheck (check, "only root may read the rules", "sudo qvr-update --check");

    if (ruleset.exitCode != 0)
        return couldNotCheck (check, "nft said \"" + firstLine (ruleset.output) + "\"", "see what sudo nft list ruleset says");

    const auto parsed = juce::JSON::parse (ruleset.output);

    if (! parsed["nftables"].isArray())
        return couldNotCheck (check, "nft gave no rules it could read", "see what sudo nft list ruleset says");

    const RulesetReader reader (parsed["nftables"], port);
    const auto chains = reader.inputChains();
    auto names = interfaceNames;

    if (names.isEmpty())
        names.add ({});

    // A connection must pass every input hook: the first that surely drops it
    // is the one to fix, else the first that may.
    struct Finding { juce::String where, text, fix; juce::StringArray on; };
    Finding sure, maybe;

    for (auto& name : names)
    {
        for (auto& chain : chains)
        {
            const auto o = reader.run (chain, name);
            auto& f = o.accepted ? maybe : sure;

            if (! o.dropped || (f.where.isNotEmpty() && f.where != o.dropWhere))
                continue;

            f.where = o.dropWhere;
            f.text = o.dropWhere + (o.accepted ? " may drop " + what + ", depending on " + o.dependsOn : " drops " + what);
            f.fix = "sudo nft insert rule " + chain + " tcp dport " + juce::String (port) + " accept";
            f.on.add (name);
            break;
        }
    }

    // Named only where the interfaces differ.
    const auto on = [&] (const Finding& f) { return f.on.size() == names.size() ? juce::String() : " (on " + f.on.joinIntoString (", ") + ")"; };

    if (sure.where.isNotEmpty())
        return keepsOut (line (check, CheckFinding::blocking, sure.text + on (sure), sure.fix), "nftables");

    if (maybe.where.isNotEmpty())
        return keepsOut (line (check, CheckFinding::warning, maybe.text + on (maybe), maybe.fix), "nftables");

    return line (check, CheckFinding::ok, chains.isEmpty() ? "no input rules" : "the input rules let " + what + " in");
}
} // namespace firewallverdicts

#include "platform/FirewallState.h"

#include <map>
#include <vector>

#include "platform/WindowsSystem.h"

#include <iphlpapi.h>
#include <oleauto.h>
#include <initguid.h>   // the two class ids below are defined here, not in a library
#include <netfw.h>
#include <netlistmgr.h>

namespace
{
    // Enough for any real machine's networks and firewall rules; a bound on a misbehaving enumerator.
    constexpr int maxItems = 10000;

    // NET_FW_IP_PROTOCOL_ANY, which MinGW's netfw.h leaves out.
    constexpr long anyProtocol = 256;

    template <typename Interface>
    struct Com
    {
        Com() = default;
        Com (const Com&) = delete;
        Com& operator= (const Com&) = delete;
        ~Com() { if (p != nullptr) p->Release(); }
        Interface* operator->() const { return p; }
        Interface* p = nullptr;
    };

    struct ComUse
    {
        // RPC_E_CHANGED_MODE: COM is up in another mode on this thread, usable all the same.
        ComUse() : result (::CoInitializeEx (nullptr, COINIT_APARTMENTTHREADED)) {}
        ~ComUse() { if (SUCCEEDED (result)) ::CoUninitialize(); }
        ComUse (const ComUse&) = delete;
        ComUse& operator= (const ComUse&) = delete;
        const HRESULT result;
    };

    struct Bstr
    {
        Bstr() = default;
        Bstr (const Bstr&) = delete;
        Bstr& operator= (const Bstr&) = delete;
        ~Bstr() { ::SysFreeString (s); }
        juce::String text() const { return s != nullptr ? juce::String (s) : juce::String(); }
        BSTR s = nullptr;
    };

    juce::String errorText (HRESULT hr)
    {
        return "error 0x" + juce::String::toHexString ((int) hr).paddedLeft ('0', 8);
    }

    juce::String guidText (const GUID& g)
    {
        wchar_t text[64] {};
        ::StringFromGUID2 (g, text, 64);
        return juce::String (text).toUpperCase();
    }

    struct Adapter
    {
        juce::String name, guid;
    };

    // The adapter behind each IPv4 address: its name for the user, its GUID for the network list.
    std::map<std::uint32_t, Adapter> adaptersByAddress()
    {
        std::map<std::uint32_t, Adapter> result;
        ULONG size = 16 * 1024;
        std::vector<char> buffer;

        for (int attempt = 0; attempt < 4; ++attempt)
        {
            buffer.resize (size);
            const auto r = ::GetAdaptersAddresses (AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                                   nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*> (buffer.data()), &size);
            if (r == NO_ERROR)
            {
                for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*> (buffer.data()); a != nullptr; a = a->Next)
                    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next)
                        if (u->Address.lpSockaddr != nullptr && u->Address.lpSockaddr->sa_family == AF_INET)
                            result[ntohl (reinterpret_cast<const sockaddr_in*> (u->Address.lpSockaddr)->sin_addr.s_addr)]
                                = { juce::String (a->FriendlyName), juce::String (a->AdapterName).toUpperCase() };
                break;
            }

            if (r != ERROR_BUFFER_OVERFLOW)
                break;
        }

        return result;
    }

    // Each connected adapter's network category, by adapter GUID; empty with `why` set when the list did not answer.
    std::map<juce::String, NLM_NETWORK_CATEGORY> categories (juce::String& why)
    {
        std::map<juce::String, NLM_NETWORK_CATEGORY> result;
        Com<INetworkListManager> manager;
        Com<IEnumNetworkConnections> connections;
        auto hr = ::CoCreateInstance (CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager, reinterpret_cast<void**> (&manager.p));

        if (SUCCEEDED (hr))
            hr = manager->GetNetworkConnections (&connections.p);

        if (FAILED (hr) || connections.p == nullptr)
        {
            why = "the network list did not answer (" + errorText (hr) + ")";
            return result;
        }

        for (int i = 0; i < maxItems; ++i)
        {
            Com<INetworkConnection> connection;
            Com<INetwork> network;
            ULONG fetched = 0;
            GUID adapter {};
            NLM_NETWORK_CATEGORY category {};

            if (connections->Next (1, &connection.p, &fetched) != S_OK || fetched != 1)
                break;

            if (SUCCEEDED (connection->GetAdapterId (&adapter)) && SUCCEEDED (connection->GetNetwork (&network.p))
                && network.p != nullptr && SUCCEEDED (network->GetCategory (&category)))
                result[guidText (adapter)] = category;
        }

        if (result.empty())
            why = "the network list named no network";

        return result;
    }

    // What the inbound rules say about TCP `port` for this program, per profile bit.
    struct RuleVerdict
    {
        long allowed = 0, blocked = 0;
        juce::String allowedBy, blockedBy;
    };

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

    HRESULT readRules (INetFwPolicy2& policy, const juce::StringArray& programs, int port, RuleVerdict& verdict)
    {
        Com<INetFwRules> rules;
        Com<IUnknown> enumerator;
        Com<IEnumVARIANT> items;
        auto hr = policy.get_Rules (&rules.p);

        if (SUCCEEDED (hr))
            hr = rules->get__NewEnum (&enumerator.p);

        if (SUCCEEDED (hr))
            hr = enumerator->QueryInterface (IID_IEnumVARIANT, reinterpret_cast<void**> (&items.p));

        if (FAILED (hr))
            return hr;

        for (int i = 0; i < maxItems; ++i)
        {
            VARIANT item;
            ::VariantInit (&item);
            ULONG fetched = 0;

            if (items->Next (1, &item, &fetched) != S_OK || fetched != 1)
                break;

            Com<INetFwRule> rule;
            VARIANT_BOOL enabled = VARIANT_FALSE;
            NET_FW_RULE_DIRECTION direction {};
            NET_FW_ACTION action {};
            long protocol = 0, profiles = 0;
            Bstr name, program, ports;

            if (item.vt == VT_DISPATCH && item.pdispVal != nullptr
                && SUCCEEDED (item.pdispVal->QueryInterface (IID_INetFwRule, reinterpret_cast<void**> (&rule.p)))
                && SUCCEEDED (rule->get_Enabled (&enabled)) && enabled != VARIANT_FALSE
                && SUCCEEDED (rule->get_Direction (&direction)) && direction == NET_FW_RULE_DIR_IN
                && SUCCEEDED (rule->get_Action (&action)) && SUCCEEDED (rule->get_Protocol (&protocol))
                && SUCCEEDED (rule->get_Profiles (&profiles)))
            {
                rule->get_Name (&name.s);
                rule->get_ApplicationName (&program.s);
                rule->get_LocalPorts (&ports.s);

                wchar_t expanded[MAX_PATH] {};
                const auto path = program.s != nullptr && ::ExpandEnvironmentStringsW (program.s, expanded, MAX_PATH) > 0
                                    ? juce::String (expanded) : program.text();
                const auto forUs = path.isEmpty() || programs.contains (path, true);

                if (forUs && (protocol == NET_FW_IP_PROTOCOL_TCP || protocol == anyProtocol) && portsHold (ports.text().trim(), port))
                {
                    auto& mask = action == NET_FW_ACTION_BLOCK ? verdict.blocked : verdict.allowed;
                    auto& by = action == NET_FW_ACTION_BLOCK ? verdict.blockedBy : verdict.allowedBy;

                    if ((profiles & ~mask) != 0 && by.isEmpty())
                        by = name.text();

                    mask |= profiles;
                }
            }

            ::VariantClear (&item);
        }

        return S_OK;
    }

    const char* categoryName (NLM_NETWORK_CATEGORY c)
    {
        return c == NLM_NETWORK_CATEGORY_PRIVATE ? "Private" : c == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED ? "Domain" : "Public";
    }

    NET_FW_PROFILE_TYPE2 profileOf (NLM_NETWORK_CATEGORY c)
    {
        return c == NLM_NETWORK_CATEGORY_PRIVATE ? NET_FW_PROFILE2_PRIVATE : c == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED ? NET_FW_PROFILE2_DOMAIN : NET_FW_PROFILE2_PUBLIC;
    }
}

std::vector<CheckLine> checkFirewall (const std::vector<Ipv4Interface>& interfaces, int port)
{
    std::vector<CheckLine> lines;
    const ComUse com;
    wchar_t exe[MAX_PATH] {};
    ::GetModuleFileNameW (nullptr, exe, MAX_PATH);
    const juce::File self { juce::String (exe) };
    const juce::StringArray programs { self.getFullPathName(), self.getSiblingFile ("QvrUpdater.exe").getFullPathName() };
    const auto allowFix = "as administrator: netsh advfirewall firewall add rule name=\"QVR Firmware Downloader (qvr-update)\" dir=in action=allow program=\""
                        + self.getFullPathName() + "\" protocol=TCP localport=" + juce::String (port) + " profile=any";

    juce::String categoryWhy, policyWhy;
    const auto known = categories (categoryWhy);
    const auto adapters = adaptersByAddress();

    Com<INetFwPolicy2> policy;
    const auto created = ::CoCreateInstance (CLSID_NetFwPolicy2, nullptr, CLSCTX_ALL, IID_INetFwPolicy2, reinterpret_cast<void**> (&policy.p));
    RuleVerdict rules;
    auto rulesRead = FAILED (created) ? created : readRules (*policy.p, programs, port, rules);

    if (FAILED (created))
        policyWhy = "Windows Defender Firewall did not answer (" + errorText (created) + ")";

    for (auto& i : interfaces)
    {
        const auto address = juce::String (i.address >> 24) + "." + juce::String ((i.address >> 16) & 0xff) + "."
                           + juce::String ((i.address >> 8) & 0xff) + "." + juce::String (i.address & 0xff);
        const auto adapter = adapters.find (i.address);
        const auto check = "firewall on " + (adapter != adapters.end() ? adapter->second.name + " " : juce::String()) + address;
        const auto category = adapter != adapters.end() ? known.find (adapter->second.guid) : known.end();

        if (category == known.end())
        {
            lines.push_back ({ CheckLine::unchecked, check, "could not check: " + (categoryWhy.isNotEmpty() ? categoryWhy : "no network is known for this adapter")
                                                               + (policyWhy.isNotEmpty() ? "; " + policyWhy : juce::String()),
                               "see Settings > Network: the mixer's network should be Private, with the tools allowed" });
            continue;
        }

        const auto kind = juce::String (categoryName (category->second)) + " network";
        const auto profile = profileOf (category->second);
        VARIANT_BOOL on = VARIANT_TRUE, blockAll = VARIANT_FALSE;

        if (FAILED (created) || FAILED (policy->get_FirewallEnabled (profile, &on)))
        {
            lines.push_back ({ CheckLine::unchecked, check, kind + "; could not check: " + (policyWhy.isNotEmpty() ? policyWhy : "the firewall did not tell whether it is on"), allowFix });
            continue;
        }

        policy->get_BlockAllInboundTraffic (profile, &blockAll);

        if (on == VARIANT_FALSE)
            lines.push_back ({ CheckLine::ok, check, kind + "; the firewall is off for it", {} });
        else if (blockAll != VARIANT_FALSE)
            lines.push_back ({ CheckLine::blocking, check, kind + "; the firewall blocks every incoming connection",
                               "in Windows Security > Firewall > " + kind + ", clear \"Block all incoming connections\"" });
        else if (FAILED (rulesRead))
            lines.push_back ({ CheckLine::unchecked, check, kind + "; the firewall is on; could not check its rules (" + errorText (rulesRead) + ")", allowFix });
        else if ((rules.blocked & profile) != 0)
            lines.push_back ({ CheckLine::blocking, check, kind + "; the rule \"" + rules.blockedBy + "\" blocks this program or TCP " + juce::String (port),
                               "run allow-firewall.cmd beside qvr-update.exe: it replaces the rules of these tools" });
        else if ((rules.allowed & profile) != 0)
            lines.push_back ({ CheckLine::ok, check, kind + "; the rule \"" + rules.allowedBy + "\" lets the mixer in", {} });
        else
            lines.push_back ({ CheckLine::warning, check, kind + "; the firewall is on and no rule lets the mixer in yet: Windows asks at the first start",
                               allowFix });
    }

    return lines;
}

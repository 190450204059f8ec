#include "check/FirewallCheck.h"
#include "check/WindowsFirewallVerdicts.h"

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

    // The adapter behind each IPv4 address: its name for people, its GUID for the network list.
    std::map<std::uint32_t, Adapter> adaptersByAddress()
    {
        std::map<std::uint32_t, Adapter> result;
        std::vector<char> buffer;

        if (! readGrowingTable ([] (void* table, unsigned long* size)
                                {
                                    return ::GetAdaptersAddresses (AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                                                   nullptr, static_cast<IP_ADAPTER_ADDRESSES*> (table), size);
                                },
                                buffer)
            || buffer.empty())
            return result;

        for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*> (buffer.data()); a != nullptr; a = a->Next)
            for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next)
                if (u->Address.lpSockaddr != nullptr && u->Address.lpSockaddr->sa_family == AF_INET)
                    result[ntohl (reinterpret_cast<const sockaddr_in*> (u->Address.lpSockaddr)->sin_addr.s_addr)]
                        = { juce::String (a->FriendlyName), juce::String (a->AdapterName).toUpperCase() };

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

    // Every rule as the system lists it; the verdicts pick those that matter.
    HRESULT readRules (INetFwPolicy2& policy, std::vector<windowsfirewall::Rule>& result, const std::function<bool()>& shouldStop)
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

        for (int i = 0; i < maxItems && ! (shouldStop && shouldStop()); ++i)
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
                && SUCCEEDED (rule->get_Enabled (&enabled)) && SUCCEEDED (rule->get_Direction (&direction))
                && SUCCEEDED (rule->get_Action (&action)) && SUCCEEDED (rule->get_Protocol (&protocol))
                && SUCCEEDED (rule->get_Profiles (&profiles)))
            {
                rule->get_Name (&name.s);
                rule->get_ApplicationName (&program.s);
                rule->get_LocalPorts (&ports.s);

                wchar_t expanded[MAX_PATH] {};
                const auto path = program.s != nullptr && ::ExpandEnvironmentStringsW (program.s, expanded, MAX_PATH) > 0
                                    ? juce::String (expanded) : program.text();
                result.push_back ({ name.text(), path, ports.text(), enabled != VARIANT_FALSE, direction == NET_FW_RULE_DIR_IN,
                                    action == NET_FW_ACTION_BLOCK, protocol, profiles });
            }

            ::VariantClear (&item);
        }

        return S_OK;
    }

    int profileOf (NLM_NETWORK_CATEGORY c)
    {
        return c == NLM_NETWORK_CATEGORY_PRIVATE ? windowsfirewall::privateNetwork
             : c == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED ? windowsfirewall::domain : windowsfirewall::publicNetwork;
    }

    windowsfirewall::ProfileState stateOf (INetFwPolicy2& policy, int profile)
    {
        windowsfirewall::ProfileState state;
        VARIANT_BOOL on = VARIANT_TRUE, blockAll = VARIANT_FALSE;
        state.answered = SUCCEEDED (policy.get_FirewallEnabled ((NET_FW_PROFILE_TYPE2) profile, &on));
        policy.get_BlockAllInboundTraffic ((NET_FW_PROFILE_TYPE2) profile, &blockAll);
        state.enabled = on != VARIANT_FALSE;
        state.blocksAllInbound = blockAll != VARIANT_FALSE;
        return state;
    }
}

// The network list and the firewall answer through COM within a fraction of a
// second and start no program, so only the rules, which may be thousands, look
// at a stop.
std::vector<CheckFinding> checkFirewall (const std::vector<Ipv4Interface>& interfaces, int port, const std::function<bool()>& shouldStop)
{
    const ComUse com;
    windowsfirewall::Answers answers;
    wchar_t exe[MAX_PATH] {};
    ::GetModuleFileNameW (nullptr, exe, MAX_PATH);
    const juce::File self { juce::String (exe) };
    answers.programs = { self.getFullPathName(), self.getSiblingFile ("QvrUpdater.exe").getFullPathName() };

    const auto known = categories (answers.networksWhy);
    const auto adapters = adaptersByAddress();

    for (auto& i : interfaces)
    {
        const auto adapter = adapters.find (i.address);
        const auto category = adapter != adapters.end() ? known.find (adapter->second.guid) : known.end();
        answers.interfaces.push_back ({ i.address, adapter != adapters.end() ? adapter->second.name : juce::String(),
                                        category != known.end() ? profileOf (category->second) : 0 });
    }

    Com<INetFwPolicy2> policy;
    const auto created = ::CoCreateInstance (CLSID_NetFwPolicy2, nullptr, CLSCTX_ALL, IID_INetFwPolicy2, reinterpret_cast<void**> (&policy.p));

    if (FAILED (created))
    {
        answers.firewallWhy = "Windows Defender Firewall did not answer (" + errorText (created) + ")";
    }
    else
    {
        answers.domainState = stateOf (*policy.p, windowsfirewall::domain);
        answers.privateState = stateOf (*policy.p, windowsfirewall::privateNetwork);
        answers.publicState = stateOf (*policy.p, windowsfirewall::publicNetwork);

        if (const auto read = readRules (*policy.p, answers.rules, shouldStop); FAILED (read))
            answers.rulesWhy = errorText (read);
    }

    return windowsfirewall::verdicts (answers, port);
}

#pragma once

#include <functional>
#include <vector>

#include "check/CheckFinding.h"
#include "net/MixerLinkSettings.h"

/** Tells, before or during an update, what would keep the mixer from
    connecting and what to do about it: the update file, the interfaces as the
    update would use them, the two ports and the firewall. It announces
    nothing and accepts no connection.

    qvr-update --check runs it once and prints the findings; the link's
    settings (ports, interface source) let tests point it at loopback.
*/
class NetworkCheck final
{
public:
    /** checkFile: whether the settings' update file gets a finding of its own.
        shouldStop is looked at throughout, a firewall program's wait included.
    */
    NetworkCheck (MixerLinkSettings settings, bool checkFile, std::function<bool()> shouldStop = {});

    /** What a run looks at. */
    enum class Scope
    {
        everything,         // qvr-update --check
        whileListening,     // all but the TCP port, which our own listener holds
        port                // only who holds the TCP port, after listening failed
    };

    /** Looks, in the order the findings come: the file, the interfaces, the
        ports, the firewall. Once shouldStop says so it ends at once with the
        findings of the looks done by then.
    */
    std::vector<CheckFinding> run (Scope scope = Scope::everything);

    /** What each interface the update would announce on means for the mixer. */
    static std::vector<CheckFinding> interfaceFindings (const std::vector<Ipv4Interface>& interfaces);

    /** Why a file that failed the update file check failed, in words. */
    static juce::String describeFileProblem (const juce::File& file, const UpdateEnvironment::FileReading& reading);

private:
    CheckFinding fileFinding() const;
    void addInterfaceFindings (std::vector<Ipv4Interface>& interfaces, std::vector<Ipv4Interface>& usable);
    void addTcpFinding();
    void addUdpFinding (const std::vector<Ipv4Interface>& usable);
    bool stopped() const { return shouldStop && shouldStop(); }

    const MixerLinkSettings settings;
    const bool checkFile;
    const std::function<bool()> shouldStop;
    std::vector<CheckFinding> findings;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NetworkCheck)
};

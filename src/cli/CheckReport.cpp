#include "cli/CheckReport.h"

#include <algorithm>

#include "cli/ExitStatus.h"
#include "cli/JsonLine.h"

namespace
{
    juce::String mark (CheckFinding::Status s)
    {
        return s == CheckFinding::ok ? juce::String::fromUTF8 ("\xe2\x9c\x93")
             : s == CheckFinding::blocking ? juce::String::fromUTF8 ("\xe2\x9c\x97") : juce::String ("!");
    }

    const char* statusName (CheckFinding::Status s)
    {
        switch (s)
        {
            case CheckFinding::ok:       return "ok";
            case CheckFinding::warning:  return "warning";
            case CheckFinding::blocking: return "blocking";
            case CheckFinding::unchecked: break;
        }

        return "unchecked";
    }

    bool blocks (const CheckFinding& f) { return f.status == CheckFinding::blocking; }

    bool fileFails (const std::vector<CheckFinding>& findings, bool fileChecked)
    {
        return fileChecked && ! findings.empty() && blocks (findings.front());
    }
}

namespace checkreport
{
int exitStatus (const std::vector<CheckFinding>& findings, bool fileChecked)
{
    if (fileFails (findings, fileChecked))
        return exitstatus::checksFailed;

    return std::any_of (findings.begin(), findings.end(), blocks) ? exitstatus::somethingBlocks : exitstatus::sent;
}

juce::String toText (const CheckFinding& f)
{
    return mark (f.status) + " " + f.check + ": " + f.detail + (f.fix.isEmpty() ? juce::String() : juce::String::fromUTF8 (" \xe2\x80\x94 fix: ") + f.fix);
}

juce::String toLines (const std::vector<CheckFinding>& findings, int status, bool quiet)
{
    const auto blockingCount = std::count_if (findings.begin(), findings.end(), blocks);
    const auto unchecked = std::count_if (findings.begin(), findings.end(), [] (auto& f) { return f.status == CheckFinding::unchecked; });
    juce::String text;

    for (auto& f : findings)
        if (! quiet || f.status != CheckFinding::ok)
            text << toText (f) << "\n";

    if (status == exitstatus::interrupted)
        text << "interrupted before the check was done\n";
    else if (status == exitstatus::checksFailed)
        text << "the update file fails the check\n";
    else if (blockingCount > 0)
        text << juce::String ((int) blockingCount) << (blockingCount == 1 ? " finding" : " findings")
             << " will keep the mixer from connecting: see the lines marked " << mark (CheckFinding::blocking) << "\n";
    else
        text << "nothing found that keeps the mixer from connecting"
             << (unchecked > 0 ? "; " + juce::String ((int) unchecked) + " could not be checked" : juce::String()) << "\n";

    return text;
}

juce::String toJson (const std::vector<CheckFinding>& findings, int status)
{
    std::vector<JsonLine> items;

    for (auto& f : findings)
        items.push_back (JsonLine().add ("check", f.check).add ("status", juce::String (statusName (f.status)))
                                   .add ("detail", f.detail).addOrNull ("fix", f.fix));

    return JsonLine().add ("checks", items).add ("exit", status).toString();
}
} // namespace checkreport

#include <gtest/gtest.h>

#include "cli/CommandLineOptions.h"

namespace
{
    struct Case
    {
        std::vector<const char*> arguments;
        const char* file;           // expected FILE, or nullptr for a usage error
        const char* interfaces;     // joined with '|'
        double timeout;
        const char* errorSays;
    };

    juce::StringArray toArray (const std::vector<const char*>& a)
    {
        juce::StringArray r;
        std::for_each (a.begin(), a.end(), [&r] (auto* s) { r.add (juce::String::fromUTF8 (s)); });
        return r;
    }
}

TEST (CommandLineOptions, ParsesWhatUsersTypeAndNamesWhatIsWrong)
{
    const Case cases[] = {
        { { "fw.upd" }, "fw.upd", "", 0.0, "" },
        { { "-i", "eth0", "--interface=192.0.2.1", "--interface", "wlan0", "山田/fw.upd" }, "山田/fw.upd", "eth0|192.0.2.1|wlan0", 0.0, "" },
        { { "--timeout", "2.5", "fw.upd" }, "fw.upd", "", 2.5, "" },
        { { "-t", "30", "--json", "-q", "fw.upd" }, "fw.upd", "", 30.0, "" },
        { { "--", "-odd-name.upd" }, "-odd-name.upd", "", 0.0, "" },
        { { "--check" }, "", "", 0.0, "" },
        { { "--mixers", "2", "--mixer", "192.0.2.2", "--mixer", "192.0.2.3", "fw.upd" }, "fw.upd", "", 0.0, "" },
        { { "--mixers", "3", "--mixer", "192.0.2.2", "fw.upd" }, nullptr, "", 0.0, "--mixers 3 with only 1 --mixer address" },
        { {}, nullptr, "", 0.0, "no update file" },
        { { "a.upd", "b.upd" }, nullptr, "", 0.0, "one update file" },
        { { "--frobnicate", "fw.upd" }, nullptr, "", 0.0, "unknown option --frobnicate" },
        { { "fw.upd", "-i" }, nullptr, "", 0.0, "-i needs a value" },
        { { "--interface=", "fw.upd" }, nullptr, "", 0.0, "--interface needs" },
        { { "--timeout", "soon", "fw.upd" }, nullptr, "", 0.0, "\"soon\"" },
        { { "--timeout=-5", "fw.upd" }, nullptr, "", 0.0, "above 0" },
    };

    for (auto& c : cases)
    {
        const auto o = CommandLineOptions::parse (toArray (c.arguments));
        SCOPED_TRACE (toArray (c.arguments).joinIntoString (" "));

        if (c.file == nullptr)
        {
            EXPECT_TRUE (o.error.contains (c.errorSays)) << o.error;
            continue;
        }

        EXPECT_EQ (o.error, "");
        EXPECT_EQ (o.file, juce::String::fromUTF8 (c.file));
        EXPECT_EQ (o.interfaces.joinIntoString ("|"), c.interfaces);
        EXPECT_EQ (o.timeoutSeconds, c.timeout);
    }

    // A usage error is told as JSON too, wherever --json stands.
    EXPECT_TRUE (CommandLineOptions::parse (toArray ({ "--frobnicate", "--json", "fw.upd" })).json);

    // Help and version need no file.
    EXPECT_TRUE (CommandLineOptions::parse (toArray ({ "--help" })).help);
    EXPECT_EQ (CommandLineOptions::parse (toArray ({ "-V" })).error, "");
}

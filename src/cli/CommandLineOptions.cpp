#include "cli/CommandLineOptions.h"

#include "net/Ipv4Address.h"

namespace
{
    // "--name=value" or "--name value" (long), "-n value" (short).
    bool takeValue (const juce::String& argument, const char* shortName, const char* longName,
                    const juce::StringArray& arguments, int& index, juce::String& value, juce::String& error)
    {
        const juce::String longForm (longName);

        if (argument.startsWith (longForm + "="))
        {
            value = argument.fromFirstOccurrenceOf ("=", false, false);
            return true;
        }

        if ((shortName == nullptr || argument != shortName) && argument != longForm)
            return false;

        if (index + 1 >= arguments.size())
            error = argument + " needs a value";
        else
            value = arguments[++index];

        return true;
    }
}

CommandLineOptions CommandLineOptions::parse (const juce::StringArray& arguments)
{
    CommandLineOptions o;
    juce::StringArray files;
    bool optionsEnded = false;

    for (int i = 0; i < arguments.size() && o.error.isEmpty(); ++i)
    {
        const auto& a = arguments[i];
        juce::String value;

        if (optionsEnded || ! a.startsWith ("-") || a == "-")
            files.add (a);
        else if (a == "--")
            optionsEnded = true;
        else if (a == "-h" || a == "--help")
            o.help = true;
        else if (a == "-V" || a == "--version")
            o.version = true;
        else if (a == "-q" || a == "--quiet")
            o.quiet = true;
        else if (a == "--json")
            o.json = true;
        else if (a == "--check")
            o.check = true;
        else if (takeValue (a, "-i", "--interface", arguments, i, value, o.error))
        {
            if (value.trim().isEmpty() && o.error.isEmpty())
                o.error = "--interface needs a name or an address";

            o.interfaces.add (value.trim());
        }
        else if (takeValue (a, nullptr, "--mixers", arguments, i, value, o.error))
        {
            o.mixers = value.getIntValue();

            if (o.error.isEmpty() && (! value.containsOnly ("0123456789") || value.isEmpty() || o.mixers < 1 || o.mixers > 64))
                o.error = "--mixers takes a number of mixers from 1 to 64, not \"" + value + "\"";
        }
        else if (takeValue (a, nullptr, "--mixer", arguments, i, value, o.error))
        {
            if (std::uint32_t address = 0; o.error.isEmpty() && ! ipv4::parse (value, address))
                o.error = "--mixer takes a mixer's IPv4 address, such as 192.168.1.50, not \"" + value + "\"";

            o.mixerAddresses.addIfNotAlreadyThere (value);
        }
        else if (takeValue (a, "-t", "--timeout", arguments, i, value, o.error))
        {
            o.timeoutSeconds = value.getDoubleValue();

            if (o.error.isEmpty() && (! value.containsOnly ("0123456789.") || value.isEmpty() || o.timeoutSeconds <= 0.0))
                o.error = "--timeout takes a number of seconds above 0, not \"" + value + "\"";
        }
        else
            o.error = "unknown option " + a;
    }

    // A script that asked for JSON gets it for a usage error too, wherever the error stands.
    if (o.error.isNotEmpty())
        o.json = o.json || arguments.indexOf ("--json") >= 0;

    // Each address is one mixer: more mixers than addresses could never all connect.
    if (o.error.isEmpty() && o.mixers > 0 && ! o.mixerAddresses.isEmpty() && o.mixers > o.mixerAddresses.size())
        o.error = "--mixers " + juce::String (o.mixers) + " with only " + juce::String (o.mixerAddresses.size())
                + " --mixer address" + (o.mixerAddresses.size() == 1 ? "" : "es");

    if (o.error.isEmpty() && o.check && o.fleetSize() > 0)
        o.error = "--check sends nothing: it takes no --mixers or --mixer";

    if (o.error.isEmpty() && ! o.help && ! o.version)
    {
        if (files.isEmpty() && ! o.check)
            o.error = "no update file given";
        else if (files.size() > 1)
            o.error = "one update file at a time, not " + juce::String (files.size());
        else if (! files.isEmpty())
            o.file = files[0];
    }

    return o;
}

juce::String CommandLineOptions::usage()
{
    return "Usage: qvr-update [OPTIONS] FILE\n"
           "       qvr-update --check [FILE]\n"
           "Sends the firmware update FILE to a QVR-7000 mixer on the local network:\n"
           "announces this computer on every subnet (UDP port 56000), waits for the\n"
           "mixer on TCP port 54000 and sends the file at the pace the mixer reads.\n"
           "FILE must begin with \"QVR-700\" and be smaller than 4 GiB.\n"
           "\n"
           "  -i, --interface NAME-OR-ADDRESS  announce only there (e.g. eth0 or 192.168.1.20); repeatable\n"
           "  -t, --timeout SECONDS            give up when no mixer has connected within SECONDS\n"
           "      --json                       end with one JSON line: file, size, sha256 (of what\n"
           "                                   was sent), mixer, seconds, outcome, delivered\n"
           "  -q, --quiet                      print only errors and the outcome\n"
           "      --mixers N                   update N mixers in one run, each as it connects, all\n"
           "                                   at once; --timeout then ends the wait for the rest\n"
           "      --mixer ADDRESS              only a mixer at this IPv4 address may connect; any\n"
           "                                   other connection is closed at once; repeatable\n"
           "                                   (without --mixers: one mixer per address)\n"
           "      --check                      send nothing: list what would keep the mixer from\n"
           "                                   connecting (FILE, interfaces, ports, firewall) and\n"
           "                                   how to fix each; with --json as {\"checks\": [...]}\n"
           "  -h, --help                       show this help\n"
           "  -V, --version                    show the version\n"
           "\n"
           "Exit status: 0 sent, and the mixer took every byte; 2 usage error; 3 the file\n"
           "or the interfaces failed the checks (I codes); 4 the connection failed\n"
           "(C codes); 5 no mixer within --timeout (with --mixers: fewer than N; those\n"
           "that came were served); 6 the transfer failed (S codes; with --mixers: for\n"
           "any mixer, the others still finish); 7 --check found something that will keep\n"
           "the mixer from connecting; 130 interrupted (Ctrl-C, SIGTERM).\n"
           "If no mixer connects, 'qvr-update --check' tells why: a firewall that drops\n"
           "TCP port 54000, the mixer on another subnet, a port held by another program.\n";
}

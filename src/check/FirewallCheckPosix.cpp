#include "check/FirewallCheck.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "check/FirewallVerdicts.h"

extern char** environ;

namespace
{
    using firewallverdicts::Answer;

    // firewall-cmd is a Python program that asks over D-Bus: it may take a
    // second; one that hangs must not hold the check up for long.
    constexpr int commandTimeoutMs = 10000;
    constexpr size_t maxOutput = 4 * 1024 * 1024;

    // sbin first: an ordinary user's PATH often lacks it, though the tools live there.
    juce::File findProgram (const juce::String& name)
    {
        for (auto* folder : { "/usr/sbin", "/sbin", "/usr/bin", "/bin" })
            if (const auto f = juce::File (folder).getChildFile (name); f.existsAsFile())
                return f;

        return {};
    }

    bool reaped (pid_t pid, int& status)
    {
        pid_t r;

        while ((r = ::waitpid (pid, &status, WNOHANG)) < 0 && errno == EINTR)
        {
        }

        return r != 0;
    }

    // Runs a program with the C locale (its words, not a translation, are
    // what the verdicts read) and collects what it prints. It gets the time
    // limit for its output and its exit together, looked at in short slices
    // so that a stop is seen at once; a program still running when either
    // comes is killed with whatever it started.
    Answer ask (const juce::String& program, const juce::StringArray& arguments, const std::function<bool()>& shouldStop)
    {
        Answer answer;
        const auto path = findProgram (program);

        if (shouldStop && shouldStop())
            return { true, -1, "stopped" };

        if (path == juce::File())
        {
            answer.installed = false;
            return answer;
        }

        int pipeEnds[2];

        if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
            return { true, -1, "cannot start " + program };

        std::vector<std::string> args { path.getFullPathName().toStdString() };

        for (auto& a : arguments)
            args.push_back (a.toStdString());

        std::vector<char*> argv;

        for (auto& a : args)
            argv.push_back (a.data());

        argv.push_back (nullptr);

        std::vector<std::string> env { "LC_ALL=C", "LANG=C", "PATH=/usr/sbin:/usr/bin:/sbin:/bin" };

        // D-Bus finds the system bus through the environment when it is not in the usual place.
        for (auto** e = environ; *e != nullptr; ++e)
            if (juce::String (*e).startsWith ("DBUS_SYSTEM_BUS_ADDRESS=") || juce::String (*e).startsWith ("HOME="))
                env.emplace_back (*e);

        std::vector<char*> envp;

        for (auto& e : env)
            envp.push_back (e.data());

        envp.push_back (nullptr);

        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init (&actions);
        ::posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDERR_FILENO);
        ::posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

        // A group of its own, so that a kill reaches what it started too (ufw runs iptables).
        posix_spawnattr_t attributes;
        ::posix_spawnattr_init (&attributes);
        ::posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup (&attributes, 0);

        pid_t pid = -1;
        const auto spawned = ::posix_spawn (&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
        ::posix_spawnattr_destroy (&attributes);
        ::posix_spawn_file_actions_destroy (&actions);
        ::close (pipeEnds[1]);

        if (spawned != 0)
        {
            ::close (pipeEnds[0]);
            return { true, -1, "cannot start " + program };
        }

        constexpr int sliceMs = 10;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (commandTimeoutMs);
        std::string output;
        bool outputEnded = false;
        int status = 0;

        while (! (outputEnded && reaped (pid, status)))
        {
            if ((shouldStop && shouldStop()) || std::chrono::steady_clock::now() >= deadline)
            {
                ::kill (-pid, SIGKILL);

                // Gone at once, unless it hangs in the kernel: then not waited for.
                for (int i = 0; i < 50 && ! reaped (pid, status); ++i)
                    ::usleep (sliceMs * 1000);

                ::close (pipeEnds[0]);
                return { true, -1, program + " gave no answer within " + juce::String (commandTimeoutMs / 1000) + " s" };
            }

            if (outputEnded)
            {
                ::usleep (sliceMs * 1000);
                continue;
            }

            pollfd p { pipeEnds[0], POLLIN, 0 };

            if (::poll (&p, 1, sliceMs) <= 0)
                continue;

            char buffer[4096];
            const auto n = ::read (pipeEnds[0], buffer, sizeof (buffer));

            if (n > 0 && output.size() < maxOutput)
                output.append (buffer, (size_t) n);

            outputEnded = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
        }

        ::close (pipeEnds[0]);
        answer.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        answer.output = systemtext::readable (output);
        return answer;
    }
}

std::vector<CheckFinding> checkFirewall (const std::vector<Ipv4Interface>& interfaces, int port, const std::function<bool()>& shouldStop)
{
    juce::StringArray names;

    for (auto& i : interfaces)
        if (! i.name.empty())
            names.addIfNotAlreadyThere (systemtext::readable (i.name));

    std::vector<CheckFinding> lines;

    const auto ufw = ask ("ufw", { "status", "verbose" }, shouldStop);
    const auto ufwEnabled = systemtext::readFile (juce::File ("/etc/ufw/ufw.conf")).contains ("\nENABLED=yes");
    lines = firewallverdicts::ufw (ufw, ufwEnabled, juce::File ("/etc/ufw/applications.d/qvr-updater").existsAsFile(), interfaces, port);

    const auto state = ask ("firewall-cmd", { "--state" }, shouldStop);
    const auto runs = firewallverdicts::firewalldRuns (state);
    const auto defaultZone = runs ? ask ("firewall-cmd", { "--get-default-zone" }, shouldStop) : Answer();
    const auto zones = runs ? ask ("firewall-cmd", { "--list-all-zones" }, shouldStop) : Answer();
    const auto service = juce::File ("/usr/lib/firewalld/services/qvr-updater.xml").existsAsFile()
                      || juce::File ("/etc/firewalld/services/qvr-updater.xml").existsAsFile();

    for (auto& l : firewallverdicts::firewalld (state, defaultZone, zones, names, service, port))
        lines.push_back (l);

    // With ufw or firewalld in charge, the rules are theirs and their lines say it.
    if (! runs && ! firewallverdicts::ufwMayBeOn (ufw, ufwEnabled))
        lines.push_back (firewallverdicts::nftables (ask ("nft", { "-j", "list", "ruleset" }, shouldStop), names, port));

    return lines;
}

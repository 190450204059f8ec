#pragma once

// Loopback peers, scratch files and bounded waits for the mixer link's tests;
// the same on Linux and, cross-built, under Wine.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined (_WIN32)
 #include <winsock2.h>
#else
 #include <sys/socket.h>
#endif

#include <juce_core/juce_core.h>

#include "platform/NetCalls.h"
#include "platform/NetworkInterfaces.h"

namespace nettest
{
    using Clock = std::chrono::steady_clock;

    inline double millisecondsSince (Clock::time_point t)
    {
        return std::chrono::duration<double, std::milli> (Clock::now() - t).count();
    }

    inline bool waitFor (const std::function<bool()>& condition, int timeoutMs)
    {
        for (const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs); ! condition(); juce::Thread::sleep (1))
            if (Clock::now() >= end)
                return false;

        return true;
    }

    /** The workflow's worker: runs one step on its own thread, as the window and qvr-update do. */
    struct StepThread final : juce::Thread
    {
        explicit StepThread (std::function<int (juce::Thread&)> s) : juce::Thread ("step"), step (std::move (s)) { startThread(); }
        ~StepThread() override { stopThread (-1); }
        void run() override { result = step (*this); }

        /** The step's outcome; -100 when it did not end within timeoutMs. */
        int outcome (int timeoutMs) { return waitForThreadToExit (timeoutMs) ? result.load() : -100; }

        const std::function<int (juce::Thread&)> step;
        std::atomic<int> result { -100 };
    };

    constexpr std::uint32_t ipv4 (std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
    {
        return (a << 24) | (b << 16) | (c << 8) | d;
    }

    /** The list the system is said to have, and what the query is said to have ended with. */
    inline InterfaceSource fixedInterfaces (std::vector<Ipv4Interface> list, InterfaceQueryResult result = InterfaceQueryResult::ok)
    {
        return [list, result] (std::vector<Ipv4Interface>& out)
        {
            out = list;
            return result;
        };
    }

    /** The model prefix, then bytes that catch reordered or dropped chunks and
        every byte a text-mode read would change (CR, LF, Ctrl-Z among them).
    */
    inline std::string updateImage (size_t size)
    {
        std::string s (size, '\0');

        for (size_t i = 0; i < size; ++i)
            s[i] = i < 7 ? "QVR-700"[i] : (char) ((i * 2654435761u) >> 13);

        return s;
    }

    /** Sparse where the file system allows: sizes beyond 4 GiB cost no disk. */
    inline bool setSize (const juce::File& file, juce::int64 size)
    {
        juce::FileOutputStream out (file);
        return out.openedOk() && out.setPosition (size) && out.truncate().wasOk();
    }

    /** A folder of its own per test, removed afterwards. */
    class ScratchFolder
    {
    public:
        ScratchFolder() : folder (juce::File::createTempFile ("qvr_net")) { folder.createDirectory(); }
        ~ScratchFolder() { folder.deleteRecursively(); }

        juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

        juce::File write (const juce::String& name, const std::string& bytes) const
        {
            auto f = file (name);
            f.deleteFile();
            f.create();
            f.appendData (bytes.data(), bytes.size());
            return f;
        }

    private:
        juce::File folder;
    };

    /** The mixer's end of a connection on loopback; every read bounded in time. */
    class Peer
    {
    public:
        /** A small receive buffer makes a peer that stops reading stall the sender soon. */
        bool connect (int port, int receiveBuffer = 0)
        {
            socket = std::make_unique<juce::StreamingSocket>();

            if (! socket->connect ("127.0.0.1", port, 3000))
                return false;

            if (receiveBuffer > 0)
                ::setsockopt (socket->getRawSocketHandle(), SOL_SOCKET, SO_RCVBUF, (const char*) &receiveBuffer, sizeof (receiveBuffer));

            return true;
        }

        /** Connects to a listener of its own; returns the accepted end, the tool's side of the link. */
        std::unique_ptr<juce::StreamingSocket> link (int receiveBuffer = 0)
        {
            juce::StreamingSocket listener;

            if (! listener.createListener (0, "127.0.0.1") || ! connect (listener.getBoundPort(), receiveBuffer))
                return {};

            return std::unique_ptr<juce::StreamingSocket> (listener.waitForNextConnection());
        }

        /** Appends up to wanted bytes within timeoutMs; false when the stream ended or failed. */
        bool read (std::string& into, size_t wanted, int timeoutMs)
        {
            const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);
            char buffer[16384];

            while (wanted > 0)
            {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (end - Clock::now()).count();

                if (left <= 0 || socket->waitUntilReady (true, (int) left) == 0)
                    return true;

                const auto n = socket->read (buffer, (int) std::min (wanted, sizeof (buffer)), false);

                if (n <= 0)
                    return false;

                into.append (buffer, (size_t) n);
                wanted -= (size_t) n;
            }

            return true;
        }

        /** Reads until the other side closes; false when that did not happen in time. */
        bool readToEnd (std::string& into, int timeoutMs) { return ! read (into, std::string::npos, timeoutMs); }

        /** Closes with a reset instead of an orderly end. */
        void reset()
        {
            linger l { 1, 0 };
            ::setsockopt (socket->getRawSocketHandle(), SOL_SOCKET, SO_LINGER, (const char*) &l, sizeof (l));
            close();
        }

        void close() { socket.reset(); }

    private:
        std::unique_ptr<juce::StreamingSocket> socket;
    };

    /** Linux always tells what a peer acknowledged; Wine does not, nor Windows before 10 1703. */
    inline bool systemTellsAcknowledgements()
    {
       #if defined (__linux__)
        return true;
       #endif
        Peer peer;
        const auto accepted = peer.link();
        return accepted != nullptr
            && netcalls::acknowledgement (accepted->getRawSocketHandle(), 0).peer != netcalls::Acknowledgement::Peer::unknown;
    }

    /** The mixer's side of the announcements: a free UDP port of 0.0.0.0,
        which hears what is sent to 127.255.255.255.
    */
    class AnnouncementReceiver
    {
    public:
        AnnouncementReceiver()
        {
            socket.bindToPort (0);
            port = socket.getBoundPort();
        }

        /** The datagrams of windowMs from the first one heard (or from now, when
            none comes); gives up after timeoutMs in any case.
        */
        std::vector<std::string> listen (int windowMs, int timeoutMs)
        {
            std::vector<std::string> heard;
            auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);

            for (;;)
            {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (end - Clock::now()).count();
                char buffer[64];

                if (left <= 0 || socket.waitUntilReady (true, (int) left) != 1)
                    return heard;

                if (const auto n = socket.read (buffer, sizeof (buffer), false); n >= 0)
                    heard.emplace_back (buffer, (size_t) n);

                if (heard.size() == 1)
                    end = std::min (end, Clock::now() + std::chrono::milliseconds (windowMs));
            }
        }

        /** True when nothing arrives within ms, once what came before is forgotten. */
        bool staysQuiet (int ms)
        {
            char buffer[64];

            while (socket.waitUntilReady (true, 0) == 1 && socket.read (buffer, sizeof (buffer), false) >= 0)
            {
            }

            return listen (0, ms).empty();
        }

        int port = 0;

    private:
        juce::DatagramSocket socket;
    };
}

#if defined (__linux__)
 #include <cstdlib>
 #include <sched.h>
 #include <thread>

namespace nettest
{
    /** Runs the body on a thread of its own, in a fresh network namespace with
        only loopback up: every other destination there has no route, and
        nothing can reach a real network. False when no namespace could be made
        (that needs root).
    */
    inline bool inPrivateNetwork (const std::function<void()>& body)
    {
        bool made = false;

        std::thread ([&]
        {
            made = ::unshare (CLONE_NEWNET) == 0 && std::system ("ip link set lo up") == 0;

            if (made)
                body();
        }).join();

        return made;
    }
}
#endif

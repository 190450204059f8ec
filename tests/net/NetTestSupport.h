#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <juce_core/juce_core.h>

#include "platform/NetworkInterfaces.h"

namespace nettest
{
    using Clock = std::chrono::steady_clock;

    inline double millisecondsSince (Clock::time_point t)
    {
        return std::chrono::duration<double, std::milli> (Clock::now() - t).count();
    }

    /** Polls the condition every millisecond until it holds or the time is up. */
    inline bool waitFor (const std::function<bool()>& condition, int timeoutMs)
    {
        const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);

        while (! condition())
        {
            if (Clock::now() >= end)
                return false;

            juce::Thread::sleep (1);
        }

        return true;
    }

    constexpr std::uint32_t ipv4 (std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
    {
        return (a << 24) | (b << 16) | (c << 8) | d;
    }

    /** A TCP port that was free a moment ago, for a listener under test. */
    inline int freeTcpPort()
    {
        juce::StreamingSocket probe;
        probe.createListener (0, "127.0.0.1");
        return probe.getBoundPort();
    }

    inline InterfaceSource fixedInterfaces (std::vector<Ipv4Interface> list)
    {
        return [list] (std::vector<Ipv4Interface>& out)
        {
            out = list;
            return InterfaceQueryResult::ok;
        };
    }

    /** Bytes that pass the model check when size >= 7, followed by a pattern that
        catches reordered or dropped chunks.
    */
    inline std::string updateImage (size_t size)
    {
        static const char prefix[] = "QVR-700";
        std::string s (size, '\0');

        for (size_t i = 0; i < size; ++i)
            s[i] = i < 7 ? prefix[i] : (char) ((i * 2654435761u) >> 13);

        return s;
    }

    /** A folder of its own per test, removed afterwards. */
    class ScratchFolder
    {
    public:
        ScratchFolder()
            : folder (juce::File::createTempFile ("qvr_net"))
        {
            folder.createDirectory();
        }

        ~ScratchFolder() { folder.deleteRecursively(); }

        juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

        juce::File write (const juce::String& name, const std::string& bytes) const
        {
            // replaceWithData deletes the file for no data, so an empty file is made apart.
            auto f = file (name);
            f.deleteFile();

            if (bytes.empty())
                f.create();
            else
                f.replaceWithData (bytes.data(), bytes.size());

            return f;
        }

    private:
        juce::File folder;
    };

    /** A plain TCP client on loopback, every read bounded in time. */
    class Peer
    {
    public:
        Peer() = default;
        ~Peer() { close(); }

        /** A small receive buffer makes a peer that stops reading stall the sender soon. */
        bool connect (int port, int receiveBuffer = 0)
        {
            handle = ::socket (AF_INET, SOCK_STREAM, 0);

            if (receiveBuffer > 0)
                ::setsockopt (handle, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof (receiveBuffer));

            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_port = htons ((std::uint16_t) port);
            a.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
            return ::connect (handle, reinterpret_cast<sockaddr*> (&a), sizeof (a)) == 0;
        }

        /** Appends up to wanted bytes; stops early at end of stream, error or time-out.
            Returns false when the stream ended or failed.
        */
        bool read (std::string& into, size_t wanted, int timeoutMs)
        {
            const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);
            char buffer[16384];

            while (wanted > 0)
            {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (end - Clock::now()).count();

                if (left <= 0)
                    return true;

                pollfd p { handle, POLLIN, 0 };

                if (::poll (&p, 1, (int) left) <= 0)
                    continue;

                const auto n = ::recv (handle, buffer, std::min (wanted, sizeof (buffer)), 0);

                if (n <= 0)
                    return false;

                into.append (buffer, (size_t) n);
                wanted -= (size_t) n;
            }

            return true;
        }

        /** Reads until the other side closes; false when that did not happen in time. */
        bool readToEnd (std::string& into, int timeoutMs)
        {
            const auto end = Clock::now() + std::chrono::milliseconds (timeoutMs);

            while (Clock::now() < end)
                if (! read (into, 1u << 30, 10))
                    return true;

            return false;
        }

        /** Closes with a reset instead of an orderly end. */
        void reset()
        {
            linger l { 1, 0 };
            ::setsockopt (handle, SOL_SOCKET, SO_LINGER, &l, sizeof (l));
            close();
        }

        void close()
        {
            if (handle >= 0)
                ::close (handle);

            handle = -1;
        }

    private:
        int handle = -1;
    };

    struct Heard
    {
        std::string bytes;
        Clock::time_point at;
    };

    // The mixer's side of the announcements: a socket on a free UDP port of
    // 0.0.0.0, which hears datagrams sent to 127.255.255.255.
    class AnnouncementReceiver
    {
    public:
        AnnouncementReceiver()
        {
            handle = ::socket (AF_INET, SOCK_DGRAM, 0);
            int on = 1;
            ::setsockopt (handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof (on));

            sockaddr_in a {};
            a.sin_family = AF_INET;
            ::bind (handle, reinterpret_cast<sockaddr*> (&a), sizeof (a));

            socklen_t size = sizeof (a);
            ::getsockname (handle, reinterpret_cast<sockaddr*> (&a), &size);
            port = ntohs (a.sin_port);
        }

        ~AnnouncementReceiver() { ::close (handle); }

        /** Collects datagrams until the time is up, counted from the first one heard
            (or from now, when none comes); gives up after timeoutMs in any case.
        */
        std::vector<Heard> listen (int windowMs, int timeoutMs)
        {
            std::vector<Heard> heard;
            const auto started = Clock::now();
            auto end = started + std::chrono::milliseconds (timeoutMs);

            for (;;)
            {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (end - Clock::now()).count();

                if (left <= 0)
                    return heard;

                pollfd p { handle, POLLIN, 0 };

                if (::poll (&p, 1, (int) left) <= 0)
                    continue;

                char buffer[64];
                const auto n = ::recv (handle, buffer, sizeof (buffer), 0);

                if (n < 0)
                    continue;

                heard.push_back ({ std::string (buffer, (size_t) n), Clock::now() });

                if (heard.size() == 1)
                    end = std::min (end, heard.front().at + std::chrono::milliseconds (windowMs));
            }
        }

        void drain()
        {
            char buffer[64];
            while (::recv (handle, buffer, sizeof (buffer), MSG_DONTWAIT) >= 0)
            {
            }
        }

        int handle = -1, port = 0;
    };

    inline std::uint32_t readBigEndian32 (const std::string& s, size_t offset = 0)
    {
        auto b = [&] (size_t i) { return (std::uint32_t) (std::uint8_t) s[offset + i]; };
        return (b (0) << 24) | (b (1) << 16) | (b (2) << 8) | b (3);
    }
}

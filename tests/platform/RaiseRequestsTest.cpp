#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/RaiseRequests.h"
#include "support/MessageLoop.h"

namespace
{
    // Says text on the listener's socket and waits (bounded) until the listener
    // hangs up, which it does only after it has handed any request on.
    bool say (const std::string& name, const std::string& text)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        name.copy (address.sun_path + 1, sizeof (address.sun_path) - 1);
        const auto length = (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + name.size());
        const timeval limit { 2, 0 };
        const int handle = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);

        if (handle < 0 || ::setsockopt (handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof (limit)) != 0
            || ::connect (handle, reinterpret_cast<const sockaddr*> (&address), length) != 0)
        {
            ::close (handle);
            return false;
        }

        // The listener may hang up before all is said; only its hang-up matters.
        ::send (handle, text.data(), text.size(), MSG_NOSIGNAL);
        ::shutdown (handle, SHUT_WR);
        char ignored;
        const auto n = ::recv (handle, &ignored, 1, 0);
        const bool hungUp = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        ::close (handle);
        return hungUp;
    }

    // The same, from a child process that runs as another user.
    bool sayAsNobody (const std::string& name, const std::string& text)
    {
        const auto child = ::fork();

        if (child == 0)
            ::_exit (::setuid (65534) == 0 && say (name, text) ? 0 : 1);

        int status = -1;

        for (int i = 0; i < 200 && ::waitpid (child, &status, WNOHANG) == 0; ++i)
            ::usleep (10000);

        return WIFEXITED (status) && WEXITSTATUS (status) == 0;
    }
}

TEST (RaiseRequests, OnlyTheExactWordFromTheSameUserRaises)
{
    const auto name = "qvr-test-raise." + std::to_string (::getpid());
    int raised = 0;
    RaiseRequests requests (name, [&] { ++raised; });
    ASSERT_TRUE (requests.start());

    const std::string foreign[] { "", "rais", "RAISE", "raise\n", "raiseraise", std::string ("raise\0", 6) };

    for (const auto& text : foreign)
        EXPECT_TRUE (say (name, text)) << text;

    if (::geteuid() == 0)
    {
        EXPECT_TRUE (sayAsNobody (name, "raise"));
    }

    // Whatever the listener queued for those is delivered before this.
    bool flushed = false;
    juce::MessageManager::callAsync ([&] { flushed = true; });
    ASSERT_TRUE (pumpUntil ([&] { return flushed; }));
    EXPECT_EQ (raised, 0);

    EXPECT_TRUE (RaiseRequests::send (name));
    EXPECT_TRUE (pumpUntil ([&] { return raised == 1; }));

    requests.stop();
    EXPECT_FALSE (RaiseRequests::send (name));
}

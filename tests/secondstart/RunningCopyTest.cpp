#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#if ! defined (_WIN32)
 #include <cstddef>
 #include <cstring>
 #include <sys/socket.h>
 #include <sys/un.h>
 #include <sys/wait.h>
 #include <unistd.h>
#endif

#include "secondstart/RunningCopy.h"
#include "support/MessageLoop.h"

namespace
{
    struct Heard
    {
        bool taken = false;
        std::string answer;
        int raisedBefore = -1;
    };

    // Asks from another thread, as a later start would, while this one runs the
    // message loop on which the running copy raises its window.
    Heard ask (const std::string& name, const std::string& request, const std::atomic<int>& raised)
    {
        Heard heard;
        std::atomic<bool> done { false };
        std::thread asker ([&]
        {
            heard.taken = LocalChannel::exchange (name, request, 3000, heard.answer);
            heard.raisedBefore = raised;
            done = true;
        });
        pumpUntil ([&] { return done.load(); }, 5000);
        asker.join();
        return heard;
    }

    juce::File withBytes (const juce::File& file, const std::string& bytes)
    {
        file.replaceWithData (bytes.data(), bytes.size());
        return file;
    }

    juce::String applicationName()
    {
        return "qvr-test." + juce::String (juce::Random::getSystemRandom().nextInt64());
    }

   #if ! defined (_WIN32)
    // The test's own socket under a channel's name (abstract, as the tool's), bound or connected.
    int unixSocket (const std::string& name, int (*call) (int, const sockaddr*, socklen_t))
    {
        sockaddr_un a {};
        a.sun_family = AF_UNIX;
        std::memcpy (a.sun_path + 1, name.data(), name.size());
        const int s = ::socket (AF_UNIX, SOCK_STREAM, 0);

        if (call (s, reinterpret_cast<const sockaddr*> (&a), (socklen_t) (offsetof (sockaddr_un, sun_path) + 1 + name.size())) == 0)
            return s;

        ::close (s);
        return -1;
    }
   #endif
}

TEST (RunningCopy, DescribesFilesAndAnswersSameOrOtherOnlyAfterTheRaiseAndDropsAnythingElse)
{
    const juce::TemporaryFile folder;
    ASSERT_TRUE (folder.getFile().createDirectory());
    const auto dir = folder.getFile();

    EXPECT_EQ (RunningCopy::describeFile (withBytes (dir.getChildFile ("a.upd"), "QVR-7000")),
               "8 5495484fb0c613dc03277f814d055b07c523d983d2d64789f11cb0356eb15cc4");
    EXPECT_EQ (RunningCopy::describeFile (dir.getChildFile ("missing.upd")), "none");
    EXPECT_EQ (RunningCopy::describeFile (dir.getChildFile ("a.upd"), [] { return true; }), "none") << "given up";

    const std::string content (200000, 'q');   // more than one read's worth
    auto changed = content;
    changed.back() = 'r';
    const auto own = withBytes (dir.getChildFile ("own.upd"), content);
    const auto copy = withBytes (dir.getChildFile ("copy.upd"), content);
    const auto sameSize = withBytes (dir.getChildFile ("same-size.upd"), changed);
    const auto longer = withBytes (dir.getChildFile ("longer.upd"), content + "!");

    const auto application = applicationName();
    const auto name = LocalChannel::nameFor (application);
    std::atomic<int> raised { 0 };
    RunningCopy running (application, own, [&] { ++raised; });
    ASSERT_TRUE (running.start());

    const std::string hex (64, 'a');
    const struct { std::string request; const char* answer; } cases[] = {
        { "raise " + RunningCopy::describeFile (copy), "same" },
        { "raise " + RunningCopy::describeFile (sameSize), "other" },
        { "raise " + RunningCopy::describeFile (longer), "other" },
        { "raise none", "other" },
        // Nothing else is answered, nor raises anything.
        { "", "" }, { "raise", "" }, { "RAISE none", "" }, { "raise none\n", "" }, { "raise  none", "" },
        { std::string ("raise none\0", 11), "" }, { "raise 8 " + std::string (64, 'A'), "" },
        { "raise 8 " + hex.substr (1), "" }, { "raise -8 " + hex, "" }, { "raise 8  " + hex, "" },
        { "raise 1234567890123456 " + hex, "" }, { "raise " + std::string (200, '1'), "" },
    };

    int answered = 0;

    for (const auto& c : cases)
    {
        const auto heard = ask (name, c.request, raised);
        answered += c.answer[0] != 0 ? 1 : 0;
        EXPECT_TRUE (heard.taken) << c.request;
        EXPECT_EQ (heard.answer, c.answer) << c.request;
       #if ! defined (_WIN32)
        // Under Wine this test's own pump is never handed messages posted from other
        // threads (the application's message loop is: end to end), so no raise runs here.
        EXPECT_EQ (heard.raisedBefore, answered) << "raised after the answer, or for nothing: " << c.request;
       #endif
    }

   #if ! defined (_WIN32)
    if (::geteuid() == 0)
    {
        // Another user of the machine is not answered.
        const auto child = ::fork();

        if (child == 0)
        {
            std::string answer;
            ::_exit (::setuid (65534) == 0 && LocalChannel::exchange (name, "raise none", 2000, answer) && answer.empty() ? 0 : 1);
        }

        int status = -1;

        for (int i = 0; i < 300 && ::waitpid (child, &status, WNOHANG) == 0; ++i)
            ::usleep (10000);

        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    }

    // A peer that connects and says nothing holds the running copy up for its read bound only.
    const int silent = unixSocket (name, ::connect);
    EXPECT_EQ (ask (name, "raise none", raised).answer, "other");
    ::close (silent);
   #endif

    // Without the message loop the raise cannot run, so the answer comes later
    // than this asker waits: no answer.
    std::string late = "?";
    EXPECT_TRUE (LocalChannel::exchange (name, "raise none", 200, late));
    EXPECT_EQ (late, "");

    running.stop();
    EXPECT_FALSE (LocalChannel::exchange (name, "raise none", 200, late));

   #if ! defined (_WIN32)
    // The name is free once a run has ended. A socket left under it that does
    // not listen refuses a later start at once; one that listens but takes
    // nothing, its queue full, as well: that connect must not wait for room.
    const int dead = unixSocket (name, ::bind);
    ASSERT_GE (dead, 0) << "the stopped run still holds the name";
    EXPECT_FALSE (LocalChannel::exchange (name, "raise none", 200, late));
    ASSERT_EQ (::listen (dead, 0), 0);
    EXPECT_TRUE (LocalChannel::exchange (name, "raise none", 100, late)) << "queued, never taken";

    std::atomic<bool> asked { false };
    std::thread asker ([&] { std::string a; LocalChannel::exchange (name, "raise none", 100, a); asked = true; });
    const bool returned = pumpUntil ([&] { return asked.load(); }, 2000);
    ::close (dead);   // wakes a connect that waits for room
    asker.join();
    EXPECT_TRUE (returned) << "waited for room in a full queue";
   #endif
}

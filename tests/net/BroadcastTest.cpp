#include <gtest/gtest.h>

#include <cstdlib>

#include "NetTestSupport.h"
#include "net/Broadcast.h"

using namespace nettest;

namespace
{
    struct BroadcastTest : ::testing::Test
    {
        ScratchFolder scratch;
        const juce::File file = scratch.write ("fw.upd", updateImage (64));
    };
}

TEST_F (BroadcastTest, EveryInterfaceIsAnnouncedInOrderTenTimesASecondUntilStopped)
{
    const UpdateEnvironment env (file, fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) },
                                                          { ipv4 (127, 0, 0, 3), ipv4 (255, 0, 0, 0) } }));
    AnnouncementReceiver receiver;
    auto broadcast = std::make_unique<Broadcast> (env, 54321, receiver.port);
    broadcast->startThread();
    const auto heard = receiver.listen (550, 5000);
    EXPECT_EQ (broadcast->getStatus(), Broadcast::running);

    // Cycles of one datagram per interface, in list order; nothing else.
    ASSERT_GE (heard.size(), 2u);

    // Code 0x2000, the port, the address: all in network order.
    for (size_t i = 0; i < heard.size(); ++i)
        EXPECT_EQ (heard[i], std::string (i % 2 == 0 ? "\x20\x00\xd4\x31\x7f\x00\x00\x02" : "\x20\x00\xd4\x31\x7f\x00\x00\x03", 8)) << "datagram " << i;

    // About 550 ms at one cycle per 100 ms: the first cycle at once, then five or six.
    const auto cycles = (heard.size() + 1) / 2;
    EXPECT_GE (cycles, 4u);
    EXPECT_LE (cycles, 8u);

    broadcast.reset();
    EXPECT_TRUE (receiver.staysQuiet (250)) << "announcing after the stop";
}

#if defined (__linux__)
namespace
{
    // What the announcer's sockets hold unsent in this thread's network namespace.
    juce::int64 queuedDatagramBytes()
    {
        juce::int64 total = 0;

        for (auto& line : juce::StringArray::fromLines (juce::File ("/proc/thread-self/net/udp").loadFileAsString()))
            if (auto fields = juce::StringArray::fromTokens (line.trim(), " ", ""); fields.size() > 4 && fields[0] != "sl")
                total += fields[4].upToFirstOccurrenceOf (":", false, false).getHexValue64();

        return total;
    }
}

// A link whose driver holds every datagram (here a queue drained at 8 bit/s):
// once a socket's buffer is full, a blocking send would never return, and
// neither would the stop.
TEST_F (BroadcastTest, HeldQueueNeverHoldsUpTheStop)
{
    const bool ran = inPrivateNetwork ([this]
    {
        ASSERT_EQ (std::system ("ip link add qvr0 type veth peer name qvr1 && ip addr add 192.0.2.7/24 dev qvr0"
                                " && ip link set qvr0 up && ip link set qvr1 up"
                                " && tc qdisc add dev qvr0 root tbf rate 8bit burst 1600 limit 100000000"),
                   0);
        const UpdateEnvironment env (file, fixedInterfaces ({ { ipv4 (192, 0, 2, 7), ipv4 (255, 255, 255, 0) } }));
        Broadcast broadcast (env, 54000, 56000);
        broadcast.startThread();

        // Full once the count stops growing for a few cycles (about 11 s).
        juce::int64 last = -1;
        ASSERT_TRUE (waitFor ([&]
                              {
                                  juce::Thread::sleep (400);
                                  const auto now = queuedDatagramBytes();
                                  const bool full = now > 0 && now == last;
                                  last = now;
                                  return full;
                              },
                              30000));

        const auto asked = Clock::now();
        broadcast.signalThreadShouldExit();
        broadcast.notify();
        const bool stopped = broadcast.waitForThreadToExit (1000);
        EXPECT_TRUE (stopped) << "the announcer hangs in a send";
        EXPECT_LT (millisecondsSince (asked), 1000.0);

        // Let a hung send go, so the test ends either way.
        std::system ("tc qdisc del dev qvr0 root");
    });

    if (! ran)
        GTEST_SKIP() << "no private network namespace (needs root)";
}
#endif

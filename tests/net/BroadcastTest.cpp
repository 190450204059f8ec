#include <gtest/gtest.h>

#include <map>

#include "NetTestSupport.h"
#include "net/Broadcast.h"

using namespace nettest;

namespace
{
    std::string announcement (std::uint32_t address, int port)
    {
        return { '\x20', '\x00', (char) (port >> 8), (char) port,
                 (char) (address >> 24), (char) (address >> 16), (char) (address >> 8), (char) address };
    }

    class BroadcastTest : public ::testing::Test
    {
    protected:
        void SetUp() override { updateFile = scratch.write ("fw.upd", updateImage (64)); }

        std::unique_ptr<UpdateEnvironment> environment (std::vector<Ipv4Interface> list)
        {
            return std::make_unique<UpdateEnvironment> (updateFile, fixedInterfaces (std::move (list)));
        }

        ScratchFolder scratch;
        juce::File updateFile;
        AnnouncementReceiver receiver;
    };
}

TEST (Announcement, IsCodePortAndAddressInNetworkOrder)
{
    const auto a = Broadcast::makeAnnouncement ("192.168.0.10", 54000);
    ASSERT_EQ (a.getSize(), 8u);
    EXPECT_EQ (std::string ((const char*) a.getData(), a.getSize()), announcement (ipv4 (192, 168, 0, 10), 54000));
    EXPECT_EQ (std::string ((const char*) a.getData(), 4), std::string ("\x20\x00\xD2\xF0", 4));
    EXPECT_EQ (Broadcast::makeAnnouncement ("not an address", 54000).getSize(), 0u);
}

TEST_F (BroadcastTest, EveryInterfaceIsAnnouncedInOrderTenTimesASecond)
{
    const auto env = environment ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) },
                                    { ipv4 (127, 0, 0, 1), ipv4 (255, 0, 0, 0) },
                                    { ipv4 (127, 0, 0, 3), ipv4 (255, 0, 0, 0) } });
    ASSERT_EQ (env->getNumAddresses(), 2);

    Broadcast broadcast (*env, 54321, receiver.port);
    broadcast.startThread();
    const auto heard = receiver.listen (550, 5000);
    EXPECT_EQ (broadcast.getStatus(), Broadcast::running);

    const auto first = announcement (ipv4 (127, 0, 0, 2), 54321);
    const auto second = announcement (ipv4 (127, 0, 0, 3), 54321);

    ASSERT_GE (heard.size(), 2u);

    // Cycles of one datagram per interface, in list order; nothing else.
    for (size_t i = 0; i < heard.size(); ++i)
        EXPECT_EQ (heard[i].bytes, i % 2 == 0 ? first : second) << "datagram " << i;

    // About 550 ms at one cycle per 100 ms: the first cycle at once, then five or six.
    const auto cycles = (heard.size() + 1) / 2;
    EXPECT_GE (cycles, 4u);
    EXPECT_LE (cycles, 7u);

    if (cycles > 1)
    {
        const auto span = std::chrono::duration<double, std::milli> (heard[2 * (cycles - 1)].at - heard[0].at).count();
        const auto perCycle = span / (double) (cycles - 1);
        EXPECT_GE (perCycle, 95.0);
        EXPECT_LE (perCycle, 140.0);
    }

    const auto started = Clock::now();
    broadcast.stopThread (-1);
    EXPECT_LT (millisecondsSince (started), 50.0) << "a stop ends the wait at once";
    EXPECT_EQ (broadcast.getStatus(), Broadcast::stopped);

    // What was sent before the stop is already queued here; after that, silence.
    receiver.drain();
    EXPECT_TRUE (receiver.listen (0, 250).empty());
}

TEST_F (BroadcastTest, WithoutAddressesItOnlyWaitsUntilStopped)
{
    const auto env = environment ({});
    ASSERT_EQ (env->getNumAddresses(), 0);

    Broadcast broadcast (*env, 54000, receiver.port);
    broadcast.startThread();
    EXPECT_TRUE (receiver.listen (0, 250).empty());
    EXPECT_EQ (broadcast.getStatus(), Broadcast::running);

    broadcast.stopThread (-1);
    EXPECT_EQ (broadcast.getStatus(), Broadcast::stopped);
}

TEST_F (BroadcastTest, DestroyingWhileRunningStopsTheAnnouncements)
{
    const auto env = environment ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
    auto broadcast = std::make_unique<Broadcast> (*env, 54000, receiver.port);
    broadcast->startThread();
    ASSERT_FALSE (receiver.listen (0, 2000).empty());

    const auto started = Clock::now();
    broadcast.reset();
    EXPECT_LT (millisecondsSince (started), 50.0);

    receiver.drain();
    EXPECT_TRUE (receiver.listen (0, 250).empty());
}

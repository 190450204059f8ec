#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "NetTestSupport.h"
#include "net/UpdateEnvironment.h"

using namespace nettest;

namespace
{
    std::vector<juce::String> locals (const UpdateEnvironment& e)
    {
        std::vector<juce::String> r;
        for (int i = 0; i < e.getNumAddresses(); ++i)
            r.push_back (e.getLocalAddress (i));
        return r;
    }

    std::vector<juce::String> broadcasts (const UpdateEnvironment& e)
    {
        std::vector<juce::String> r;
        for (int i = 0; i < e.getNumAddresses(); ++i)
            r.push_back (e.getBroadcastAddress (i));
        return r;
    }

    class UpdateEnvironmentTest : public ::testing::Test
    {
    protected:
        void SetUp() override { goodFile = scratch.write ("fw.upd", updateImage (100)); }

        ScratchFolder scratch;
        juce::File goodFile;
    };
}

TEST (UpdateFileLocation, LastExtensionIsReplacedOrUpdAppended)
{
    EXPECT_EQ (UpdateEnvironment::getUpdateFileFor (juce::File ("/opt/qvr/fwtool.exe")).getFullPathName(), "/opt/qvr/fwtool.upd");
    EXPECT_EQ (UpdateEnvironment::getUpdateFileFor (juce::File ("/opt/qvr/fw.tool.exe")).getFullPathName(), "/opt/qvr/fw.tool.upd");
    EXPECT_EQ (UpdateEnvironment::getUpdateFileFor (juce::File ("/opt/qvr/fwtool")).getFullPathName(), "/opt/qvr/fwtool.upd");
    EXPECT_EQ (UpdateEnvironment::getUpdateFileFor (juce::File ("/opt/q.v/fwtool")).getFullPathName(), "/opt/q.v/fwtool.upd")
        << "a dot in the folder is not the file's extension";

    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    EXPECT_EQ (UpdateEnvironment::getUpdateFile(), exe.getSiblingFile (exe.getFileNameWithoutExtension() + ".upd"));
}

TEST_F (UpdateEnvironmentTest, ContentAndKindOfFileDecideTheCheck)
{
    const auto image = updateImage (100);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (goodFile), 0);

    for (size_t size = 0; size < 7; ++size)
    {
        const auto shortFile = scratch.write ("short.upd", image.substr (0, size));
        ASSERT_EQ (shortFile.getSize(), (juce::int64) size);
        EXPECT_EQ (UpdateEnvironment::checkUpdateFile (shortFile), 4) << size << " bytes";
    }

    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.write ("seven.upd", "QVR-700")), 0);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.write ("eighth.upd", "QVR-7001 and more")), 0)
        << "only the first 7 characters of the model string are compared";
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.write ("case.upd", "qvr-7000 firmware")), 4);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.write ("late.upd", "XQVR-7000")), 4);

    // Larger than one read block: the prefix is judged on the first block only.
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.write ("big.upd", updateImage (3 * 65536 + 5))), 0);

    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.file ("missing.upd")), 4);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile ({}), 4);

    const auto folder = scratch.file ("folder.upd");
    ASSERT_TRUE (folder.createDirectory());
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (folder), 4);

    // A FIFO without a writer would block an ordinary open for good.
    const auto fifo = scratch.file ("fifo.upd");
    ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    const auto started = Clock::now();
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (fifo), 4);
    EXPECT_LT (millisecondsSince (started), 1000.0);
}

TEST_F (UpdateEnvironmentTest, FilesThatCannotBeSentAreRejected)
{
    // Sparse, so 4 GiB cost no disk; the check must refuse it before reading it all.
    const auto huge = scratch.write ("huge.upd", "QVR-7000");
    ASSERT_EQ (::truncate (huge.getFullPathName().toRawUTF8(), 0x100000000LL), 0);
    const auto started = Clock::now();
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (huge), 4);
    EXPECT_LT (millisecondsSince (started), 1000.0);

    int calls = 0;
    UpdateEnvironment environment (huge, [&calls] (std::vector<Ipv4Interface>&) { ++calls; return InterfaceQueryResult::ok; });
    EXPECT_EQ (environment.getStatus(), 4);
    EXPECT_EQ (calls, 0) << "interfaces are only looked for once the file passed";
    EXPECT_EQ (environment.getNumAddresses(), 0);
}

TEST_F (UpdateEnvironmentTest, UnreadableFileIsRejected)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads a file whatever its mode";

    const auto locked = scratch.write ("locked.upd", updateImage (100));
    ASSERT_EQ (::chmod (locked.getFullPathName().toRawUTF8(), 0), 0);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (locked), 4);
}

TEST_F (UpdateEnvironmentTest, InterfacesGiveAddressAndBroadcastInSystemOrder)
{
    UpdateEnvironment environment (goodFile,
                                   fixedInterfaces ({ { ipv4 (192, 168, 0, 10), ipv4 (255, 255, 255, 0) },
                                                      { ipv4 (127, 0, 0, 1), ipv4 (255, 0, 0, 0) },
                                                      { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) },
                                                      { ipv4 (10, 1, 2, 3), ipv4 (255, 255, 255, 255) },
                                                      { ipv4 (172, 16, 5, 4), 0 },
                                                      { ipv4 (192, 168, 0, 10), ipv4 (255, 255, 255, 0) },
                                                      { ipv4 (10, 20, 30, 40), ipv4 (255, 255, 240, 0) } }));

    EXPECT_EQ (environment.getStatus(), 0);
    EXPECT_EQ (locals (environment), (std::vector<juce::String> { "192.168.0.10", "127.0.0.2", "10.1.2.3", "172.16.5.4", "192.168.0.10", "10.20.30.40" }));
    EXPECT_EQ (broadcasts (environment), (std::vector<juce::String> { "192.168.0.255", "127.255.255.255", "10.1.2.3", "255.255.255.255", "192.168.0.255", "10.20.31.255" }));
}

TEST_F (UpdateEnvironmentTest, NoUsableInterfaceOrAFailedQueryLeavesTheListsEmpty)
{
    EXPECT_EQ (UpdateEnvironment (goodFile, fixedInterfaces ({})).getStatus(), 9);

    UpdateEnvironment onlyLoopback (goodFile, fixedInterfaces ({ { ipv4 (127, 0, 0, 1), ipv4 (255, 0, 0, 0) } }));
    EXPECT_EQ (onlyLoopback.getStatus(), 9);
    EXPECT_EQ (onlyLoopback.getNumAddresses(), 0);

    auto failing = [] (InterfaceQueryResult result)
    {
        return [result] (std::vector<Ipv4Interface>& out)
        {
            out.push_back ({ ipv4 (192, 168, 1, 1), ipv4 (255, 255, 255, 0) });
            return result;
        };
    };

    UpdateEnvironment cannotSetUp (goodFile, failing (InterfaceQueryResult::cannotSetUp));
    EXPECT_EQ (cannotSetUp.getStatus(), 5);
    EXPECT_EQ (cannotSetUp.getNumAddresses(), 0);

    UpdateEnvironment failed (goodFile, failing (InterfaceQueryResult::failed));
    EXPECT_EQ (failed.getStatus(), 6);
    EXPECT_EQ (failed.getNumAddresses(), 0);
}

TEST (SystemInterfaces, ListsLoopbackWithItsNetmask)
{
    std::vector<Ipv4Interface> list { { 1, 2 } };
    ASSERT_EQ (querySystemInterfaces (list), InterfaceQueryResult::ok);

    const auto loopback = std::find_if (list.begin(), list.end(), [] (const Ipv4Interface& i) { return i.address == ipv4 (127, 0, 0, 1); });
    ASSERT_NE (loopback, list.end()) << "earlier contents are replaced, and lo is always there";
    EXPECT_EQ (loopback->netmask, ipv4 (255, 0, 0, 0));
    EXPECT_TRUE (std::none_of (list.begin(), list.end(), [] (const Ipv4Interface& i) { return i.address == 1; }));
}

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/UpdateEnvironment.h"

#if defined (__linux__)
 #include <sys/stat.h>
#endif

using namespace nettest;

TEST (UpdateFileCheck, ContentAndKindOfFileDecide)
{
    ScratchFolder scratch;
    const auto image = updateImage (100);
    const auto folder = scratch.file ("folder.upd");
    ASSERT_TRUE (folder.createDirectory());

    const std::pair<juce::File, int> cases[] = {
        { scratch.write ("good.upd", image), 0 },
        { scratch.write ("seven.upd", "QVR-700"), 0 },
        { scratch.write ("eighth.upd", "QVR-7001 and more"), 0 },   // only 7 characters are compared
        { scratch.write ("big.upd", updateImage (3 * 65536 + 5)), 0 },
        { scratch.write ("six.upd", image.substr (0, 6)), 4 },
        { scratch.write ("empty.upd", ""), 4 },
        { scratch.write ("case.upd", "qvr-7000 firmware"), 4 },
        { scratch.write ("late.upd", "XQVR-7000"), 4 },
        { scratch.file ("missing.upd"), 4 },
        { juce::File(), 4 },
        { folder, 4 },
    };

    for (auto& [file, expected] : cases)
        EXPECT_EQ (UpdateEnvironment::checkUpdateFile (file), expected) << file.getFileName();

    // The size that passed is the one the transfer holds the file to; a stop
    // is looked for between reads, so a long check ends when asked.
    juce::int64 checked = -1;
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.file ("big.upd"), {}, &checked), 0);
    EXPECT_EQ (checked, 3 * 65536 + 5);
    int looks = 0;
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (scratch.file ("big.upd"), [&looks] { return ++looks == 3; }), 4);
    EXPECT_EQ (looks, 3);

    // A file cut while it is read is not the file that was opened, whatever it holds.
    const auto cut = scratch.write ("cut.upd", updateImage (3 * 65536 + 5));
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (cut, [&] { return ++looks == 5 && ! setSize (cut, 65536 + 100); }), 4);

   #if defined (__linux__)
    // A FIFO without a writer would block an ordinary open for good.
    const auto fifo = scratch.file ("fifo.upd");
    ASSERT_EQ (::mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (UpdateEnvironment::checkUpdateFile (fifo), 4);
   #endif

    // 4 GiB no longer fits the length field; refused before it is read (sparse: no disk).
    const auto huge = scratch.write ("huge.upd", "QVR-7000");
    ASSERT_TRUE (setSize (huge, 0x100000000LL));

    int calls = 0;
    UpdateEnvironment environment (huge, [&calls] (std::vector<Ipv4Interface>&) { ++calls; return InterfaceQueryResult::ok; });
    EXPECT_EQ (environment.getStatus(), 4);
    EXPECT_EQ (calls, 0) << "interfaces are only looked for once the file passed";
}

TEST (UpdateEnvironmentInterfaces, AddressAndBroadcastInSystemOrderOrAFailureWithEmptyLists)
{
    ScratchFolder scratch;
    const auto file = scratch.write ("fw.upd", updateImage (100));

    UpdateEnvironment environment (file,
                                   fixedInterfaces ({ { ipv4 (192, 168, 0, 10), ipv4 (255, 255, 255, 0) },
                                                      { ipv4 (127, 0, 0, 1), ipv4 (255, 0, 0, 0) },
                                                      { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) },
                                                      { ipv4 (10, 1, 2, 3), ipv4 (255, 255, 255, 255) },
                                                      { ipv4 (172, 16, 5, 4), 0 },
                                                      { ipv4 (192, 168, 0, 10), ipv4 (255, 255, 255, 0) },
                                                      { ipv4 (10, 20, 30, 40), ipv4 (255, 255, 240, 0) } }));
    ASSERT_EQ (environment.getStatus(), 0);

    juce::StringArray pairs;
    for (int i = 0; i < environment.getNumAddresses(); ++i)
        pairs.add (environment.getLocalAddress (i) + ">" + environment.getBroadcastAddress (i));

    EXPECT_EQ (pairs.joinIntoString (" "), "192.168.0.10>192.168.0.255 127.0.0.2>127.255.255.255 10.1.2.3>10.1.2.3 "
                                           "172.16.5.4>255.255.255.255 192.168.0.10>192.168.0.255 10.20.30.40>10.20.31.255");

    const std::vector<Ipv4Interface> lan { { ipv4 (192, 168, 1, 1), ipv4 (255, 255, 255, 0) } };
    const std::pair<InterfaceSource, int> failures[] = {
        { fixedInterfaces ({}), 9 },
        { fixedInterfaces ({ { ipv4 (127, 0, 0, 1), ipv4 (255, 0, 0, 0) } }), 9 },
        { fixedInterfaces (lan, InterfaceQueryResult::cannotSetUp), 5 },
        { fixedInterfaces (lan, InterfaceQueryResult::failed), 6 },
    };

    for (auto& [source, status] : failures)
    {
        UpdateEnvironment failed (file, source);
        EXPECT_EQ (failed.getStatus(), status);
        EXPECT_EQ (failed.getNumAddresses(), 0);
    }
}

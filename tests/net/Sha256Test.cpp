#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/Sha256.h"

// Fed in uneven pieces, read midway and fed on, it gives the digest of the
// whole (sha256sum's).
TEST (Sha256, PiecesEitherWayGiveTheDigestOfTheWhole)
{
    const auto data = nettest::updateImage (3000);
    const std::map<size_t, juce::String> digestOfFirst {
        { 3, "83e7da0fc734506dcfccbce47fec5a1c760352eeba16c1ef7cfab346b827db6b" },
        { 189, "83f4c09c21b105ba67d62875c055cf66815f1ea9669380e6048cff8a589fdb05" },
        { 195, "ec1e8f0954e91e9a578c7fa63729191682e69cc2bdb3e698e8a4c1ca3847efcc" },
        { 3000, "f88f12fd61647f963e12f2790a62bca442fc568fea6245760745e58d8f8271e2" },
    };

    for (const size_t piece : { (size_t) 1, (size_t) 63, (size_t) 65, (size_t) 1024 })
    {
        Sha256 hash;

        for (size_t at = 0; at < data.size(); at += piece)
        {
            hash.update (data.data() + at, std::min (piece, data.size() - at));

            if (at == 2 * piece)
            {
                EXPECT_EQ (hash.toHexString(), digestOfFirst.at (std::min (3 * piece, data.size())));
            }
        }

        EXPECT_EQ (hash.toHexString(), digestOfFirst.at (3000)) << "pieces of " << piece;
    }
}

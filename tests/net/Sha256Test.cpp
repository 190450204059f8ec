#include <gtest/gtest.h>

#include <juce_cryptography/juce_cryptography.h>

#include "NetTestSupport.h"
#include "net/Sha256.h"

// Fed in uneven pieces, read midway and fed on, the portable rounds and the
// processor's instructions both give JUCE's digest of the whole.
TEST (Sha256, PiecesEitherWayGiveTheDigestOfTheWhole)
{
    const auto data = nettest::updateImage (3000);
    const auto whole = juce::SHA256 (data.data(), data.size()).toHexString();

    for (const bool instructions : { false, true })
    {
        for (const size_t piece : { (size_t) 1, (size_t) 63, (size_t) 65, (size_t) 1024 })
        {
            Sha256 hash (instructions);

            for (size_t at = 0; at < data.size(); at += piece)
            {
                hash.update (data.data() + at, std::min (piece, data.size() - at));

                if (at == 2 * piece)
                {
                    EXPECT_EQ (hash.toHexString(), juce::SHA256 (data.data(), std::min (3 * piece, data.size())).toHexString());
                }
            }

            EXPECT_EQ (hash.toHexString(), whole) << "pieces of " << piece << (instructions ? ", instructions" : ", portable");
        }
    }
}

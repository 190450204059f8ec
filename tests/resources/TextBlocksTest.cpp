#include <gtest/gtest.h>

#include "net/Sha256.h"
#include "resources/TextBlocks.h"

// The blocks are compiled in byte for byte (BOM, CR LF line ends, the entry
// without its closing quote): a checkout or a build step that changes one
// byte changes what the loader reads.
TEST (TextBlocks, AreCompiledInByteForByteWithATerminatingZero)
{
    const struct { TextBlock block; int size; const char* sha256; } blocks[] = {
        { textblocks::englishStrings(), 1277, "6e5de3683d200495c6377929e944b2ccbcd4ed9423e55e9ee965d3c00e4ee8b0" },
        { textblocks::japaneseStrings(), 2911, "0c5a81a00d7baca3c49f8e68940066cd01203e0b038b8c39106fd92137b53dd2" },
        { textblocks::fontsAndLanguages(), 124, "5dc7ccd52f5f399d906f1fe2c837e9bea183110395898ff380a8b3277ecc272f" },
    };

    for (auto& b : blocks)
    {
        EXPECT_EQ (b.block.size, b.size);
        Sha256 hash;
        hash.update (b.block.data, (size_t) b.block.size);
        EXPECT_EQ (hash.toHexString(), b.sha256);
        EXPECT_EQ (b.block.data[b.block.size], 0) << "a line search must be able to stop at the byte after the block";
    }
}

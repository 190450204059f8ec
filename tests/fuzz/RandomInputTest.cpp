#include <gtest/gtest.h>

#include <random>

#include "resources/TextBlocks.h"
#include "resources/TxtLoader.h"

// A bounded fuzzing pass of the text-block parser, built into the AddressSanitizer
// build only: the committed corpus and the blocks themselves, then seeded mutations of them.
namespace
{
    using Bytes = std::vector<std::uint8_t>;

    void loadTextBlock (const Bytes& data)
    {
        // The loader relies on a zero after the counted bytes, as the compiled-in blocks have;
        // the copy is exactly as long, so any read past it is caught.
        std::vector<char> block (data.begin(), data.end());
        block.push_back (0);
        juce::String slots[TxtLoader::numStrings];

        for (auto kind : { TxtLoader::none, TxtLoader::fontWin, TxtLoader::lang, TxtLoader::str })
            TxtLoader::loadSection (block.data(), (int) data.size(), kind, slots, TxtLoader::numStrings);

        // Also with a count that stops short of the zero: nothing past the count may be read.
        TxtLoader::loadSection (block.data(), (int) data.size() / 2, TxtLoader::str, slots, TxtLoader::numStrings);
    }

    std::vector<Bytes> corpus()
    {
        std::vector<Bytes> inputs;

        for (auto& f : juce::File (QVR_FUZZ_CORPUS_DIR).findChildFiles (juce::File::findFiles, false))
        {
            juce::MemoryBlock m;
            f.loadFileAsData (m);
            auto* p = static_cast<const std::uint8_t*> (m.getData());
            inputs.emplace_back (p, p + m.getSize());
        }

        return inputs;
    }

    void mutateAndRun (const std::vector<Bytes>& seeds, void (*target) (const Bytes&), int rounds)
    {
        ASSERT_FALSE (seeds.empty());
        std::mt19937 random (12345);
        const std::uint8_t interesting[] = { 0, '\r', '\n', '"', '\\', ':', '#', 0xff, 0x80, 24, 32 };

        for (auto& s : seeds)
            target (s);

        for (int i = 0; i < rounds; ++i)
        {
            auto input = seeds[random() % seeds.size()];

            for (auto edits = 1 + random() % 8; edits > 0; --edits)
            {
                switch (random() % 4)
                {
                    case 0: if (! input.empty()) input[random() % input.size()] = (std::uint8_t) random(); break;
                    case 1: if (! input.empty()) input[random() % input.size()] = interesting[random() % sizeof (interesting)]; break;
                    case 2: if (! input.empty()) input.resize (random() % input.size()); break;
                    default: input.insert (input.begin() + (long) (input.empty() ? 0 : random() % input.size()), 1 + random() % 3000, (std::uint8_t) random()); break;
                }
            }

            target (input);
        }
    }
}

TEST (RandomInput, TextBlockParserSurvivesMutatedBlocks)
{
    auto seeds = corpus();
    for (auto block : { textblocks::englishStrings(), textblocks::japaneseStrings(), textblocks::fontsAndLanguages() })
        seeds.emplace_back (block.data, block.data + block.size);

    mutateAndRun (seeds, loadTextBlock, 3000);
}

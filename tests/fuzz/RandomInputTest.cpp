#include <gtest/gtest.h>

#include <random>

#include "fuzz/FuzzTargets.h"
#include "resources/TextBlocks.h"

#include <juce_core/juce_core.h>

// A bounded stand-in for a fuzzing campaign, built into the AddressSanitizer
// build only: the committed corpus, then seeded mutations of it.
namespace
{
    std::vector<std::vector<std::uint8_t>> corpus (const char* folder)
    {
        std::vector<std::vector<std::uint8_t>> inputs;
        const juce::File dir (juce::String (QVR_FUZZ_CORPUS_DIR) + "/" + folder);

        for (auto& f : dir.findChildFiles (juce::File::findFiles, false))
        {
            juce::MemoryBlock m;
            f.loadFileAsData (m);
            auto* p = static_cast<const std::uint8_t*> (m.getData());
            inputs.emplace_back (p, p + m.getSize());
        }

        return inputs;
    }

    void mutateAndRun (std::vector<std::vector<std::uint8_t>> seeds, int (*target) (const std::uint8_t*, std::size_t), int rounds)
    {
        ASSERT_FALSE (seeds.empty());
        std::mt19937 random (12345);
        const std::uint8_t interesting[] = { 0, '\r', '\n', '"', '\\', ':', '#', 0xff, 0x80, 24, 32 };

        for (auto& s : seeds)
            target (s.data(), s.size());

        for (int i = 0; i < rounds; ++i)
        {
            auto input = seeds[random() % seeds.size()];
            const auto edits = 1 + random() % 8;

            for (unsigned e = 0; e < edits; ++e)
            {
                switch (random() % 4)
                {
                    case 0: if (! input.empty()) input[random() % input.size()] = (std::uint8_t) random(); break;
                    case 1: if (! input.empty()) input[random() % input.size()] = interesting[random() % sizeof (interesting)]; break;
                    case 2: if (! input.empty()) input.resize (random() % input.size()); break;
                    default: input.insert (input.begin() + (long) (input.empty() ? 0 : random() % input.size()), 1 + random() % 3000, (std::uint8_t) random()); break;
                }
            }

            target (input.data(), input.size());
        }
    }
}

TEST (RandomInput, TextBlockParserSurvivesMutatedBlocks)
{
    auto seeds = corpus ("text");
    for (auto block : { TextBlocks::englishStrings(), TextBlocks::japaneseStrings(), TextBlocks::fontsAndLanguages() })
        seeds.emplace_back (block.data, block.data + block.size);

    mutateAndRun (seeds, fuzzTextBlock, 3000);
}

TEST (RandomInput, BmpDecoderSurvivesMutatedBitmaps)
{
    mutateAndRun (corpus ("bmp"), fuzzBmp, 3000);
}

#include "fuzz/FuzzTargets.h"

#include <vector>

#include "resources/BmpDecoder.h"
#include "resources/TxtLoader.h"

int fuzzTextBlock (const std::uint8_t* data, std::size_t size)
{
    // The loader relies on a zero after the counted bytes, as the compiled-in blocks have;
    // the copy is exactly as long, so any read past it is caught by ASan.
    std::vector<char> block (data, data + size);
    block.push_back (0);

    juce::String slots[TxtLoader::numStrings];

    for (auto kind : { TxtLoader::none, TxtLoader::fontWin, TxtLoader::lang, TxtLoader::str })
        TxtLoader::loadSection (block.data(), (int) size, kind, slots, TxtLoader::numStrings);

    // Also with a count that stops short of the zero: nothing past the count may be read.
    if (size > 1)
        TxtLoader::loadSection (block.data(), (int) size / 2, TxtLoader::str, slots, TxtLoader::numStrings);

    return 0;
}

int fuzzBmp (const std::uint8_t* data, std::size_t size)
{
    // Exactly the input, no slack, so reading past the end is caught.
    std::vector<std::uint8_t> copy (data, data + size);
    const auto image = BmpDecoder::decode (copy.data(), copy.size());

    if (image.isValid())
        (void) image.getPixelAt (image.getWidth() - 1, image.getHeight() - 1);

    return 0;
}

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "resources/ImageLoader.h"

namespace
{
    void put32 (std::vector<juce::uint8>& b, size_t at, juce::int32 v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + (size_t) i] = (juce::uint8) ((juce::uint32) v >> (8 * i));
    }

    // A BMP whose stored row k, pixel x, is (blue = 10 k + x, green = 100, red = 200, alpha = 50 + x).
    std::vector<juce::uint8> makeBmp (int width, int height, int bitsPerPixel)
    {
        const auto bytesPerPixel = (size_t) std::max (1, bitsPerPixel / 8);
        const auto rowLength = ((bytesPerPixel * (size_t) std::abs (width)) + 3) & ~(size_t) 3;
        std::vector<juce::uint8> b (54 + rowLength * (size_t) std::abs (height));
        b[0] = 'B';
        b[1] = 'M';
        put32 (b, 2, (juce::int32) b.size());
        put32 (b, 10, 54);
        put32 (b, 14, 40);
        put32 (b, 18, width);
        put32 (b, 22, height);
        b[26] = 1;
        b[28] = (juce::uint8) bitsPerPixel;

        for (int k = 0; k < std::abs (height); ++k)
            for (int x = 0; x < std::abs (width); ++x)
            {
                auto* px = b.data() + 54 + (size_t) k * rowLength + (size_t) x * bytesPerPixel;
                px[0] = (juce::uint8) (10 * k + x);
                if (bytesPerPixel >= 3)
                    px[1] = 100, px[2] = 200;
                if (bytesPerPixel == 4)
                    px[3] = (juce::uint8) (50 + x);
            }

        return b;
    }

    std::unique_ptr<juce::Image> decode (const std::vector<juce::uint8>& b)
    {
        return ImageLoader::decode (b.data(), (int) b.size());
    }
}

TEST (ImageLoader, EmblemDecodesOnceAs48By48WithAlpha)
{
    ImageLoader::deleteInstance();
    const auto before = ImageLoader::getDecodeCount();
    const auto* emblem = ImageLoader::getInstance()->getImage (0);
    ImageLoader::getInstance();
    EXPECT_EQ (ImageLoader::getDecodeCount(), before + 1) << "a second getInstance decodes nothing";

    ASSERT_NE (emblem, nullptr);
    EXPECT_EQ (emblem->getBounds(), juce::Rectangle<int> (0, 0, 48, 48));
    EXPECT_EQ (emblem->getPixelAt (0, 0).getAlpha(), 0) << "the corners are transparent";
    EXPECT_EQ (emblem->getPixelAt (24, 40).getAlpha(), 255);
    EXPECT_EQ (ImageLoader::getInstance()->getImage (1), nullptr);
    ImageLoader::deleteInstance();
}

TEST (BmpFallback, ReadsRowsInTheirStoredOrderAndKeepsAlpha)
{
    const auto bottomUp = decode (makeBmp (3, 2, 24));
    ASSERT_NE (bottomUp, nullptr);
    EXPECT_EQ (bottomUp->getFormat(), juce::Image::RGB);
    EXPECT_EQ (bottomUp->getBounds(), juce::Rectangle<int> (0, 0, 3, 2));
    EXPECT_EQ (bottomUp->getPixelAt (0, 1), juce::Colour (200, 100, 0)) << "stored row 0 is the bottom row";
    EXPECT_EQ (bottomUp->getPixelAt (2, 0), juce::Colour (200, 100, 12));

    const auto topDown = decode (makeBmp (1, -2, 24));   // one pixel wide, too
    ASSERT_NE (topDown, nullptr);
    EXPECT_EQ (topDown->getPixelAt (0, 1).getBlue(), 10);

    const auto withAlpha = decode (makeBmp (2, 2, 32));
    ASSERT_NE (withAlpha, nullptr);
    EXPECT_EQ (withAlpha->getFormat(), juce::Image::ARGB);
    EXPECT_EQ (withAlpha->getPixelAt (1, 1).getAlpha(), 51);
}

TEST (BmpFallback, RefusesWhatItCannotReadSafely)
{
    // Palette bitmaps and empty or mirrored sizes.
    for (auto [width, height, bits] : { std::tuple (4, 4, 8), std::tuple (0, 4, 24), std::tuple (4, 0, 24), std::tuple (-4, 4, 24) })
        EXPECT_EQ (decode (makeBmp (width, height, bits)), nullptr) << width << "x" << height << "x" << bits;

    // One byte short of the rows the header declares, a size no memory holds, not a BMP.
    auto truncated = makeBmp (8, 8, 24), huge = makeBmp (1, 1, 32), notBmp = makeBmp (2, 2, 24);
    truncated.pop_back();
    put32 (huge, 18, 0x7fffffff);
    put32 (huge, 22, 0x7fffffff);
    notBmp[0] = 'X';

    for (auto* bytes : { &truncated, &huge, &notBmp })
        EXPECT_EQ (decode (*bytes), nullptr);

    const juce::uint8 tiny[] = { 'B', 'M', 0, 0 };
    EXPECT_EQ (ImageLoader::decode (tiny, (int) sizeof (tiny)), nullptr);
    EXPECT_EQ (ImageLoader::decode (nullptr, 100), nullptr);
    EXPECT_EQ (ImageLoader::decode (tiny, 0), nullptr);
}

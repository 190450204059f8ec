#include "resources/BmpDecoder.h"

namespace
{
    constexpr size_t pixelDataOffset = 54;   // 14-byte file header + 40-byte info header
    constexpr int maxDimension = 16384;      // well past any picture of ours; keeps a hostile header from allocating gigabytes

    juce::uint16 readU16 (const juce::uint8* p) { return (juce::uint16) (p[0] | (p[1] << 8)); }

    juce::int32 readS32 (const juce::uint8* p)
    {
        return (juce::int32) ((juce::uint32) p[0] | ((juce::uint32) p[1] << 8) | ((juce::uint32) p[2] << 16) | ((juce::uint32) p[3] << 24));
    }
}

juce::Image BmpDecoder::decode (const void* data, size_t size)
{
    if (data == nullptr || size < pixelDataOffset)
        return {};

    const auto* bytes = static_cast<const juce::uint8*> (data);

    if (bytes[0] != 'B' || bytes[1] != 'M')
        return {};

    const auto width = readS32 (bytes + 18);
    const auto height = readS32 (bytes + 22);
    const auto bitsPerPixel = readU16 (bytes + 28);

    if (bitsPerPixel != 24 && bitsPerPixel != 32)
        return {};

    // A negative height is a top-down bitmap; a negative width means nothing.
    if (width <= 0 || height == 0 || width > maxDimension || height < -maxDimension || height > maxDimension)
        return {};

    const auto rows = (size_t) std::abs (height);
    const auto bytesPerPixel = (size_t) bitsPerPixel / 8;
    const auto rowLength = ((bytesPerPixel * (size_t) width) + 3) & ~(size_t) 3;

    // Refuse a block that is too short for the rows its header declares.
    if (size - pixelDataOffset < rowLength * rows)
        return {};

    const bool hasAlpha = bitsPerPixel == 32;
    juce::Image image (hasAlpha ? juce::Image::ARGB : juce::Image::RGB, width, (int) rows, true);

    for (size_t k = 0; k < rows; ++k)
    {
        const auto* row = bytes + pixelDataOffset + k * rowLength;
        const auto y = height > 0 ? (int) (rows - 1 - k) : (int) k;

        for (int x = 0; x < width; ++x)
        {
            const auto* px = row + (size_t) x * bytesPerPixel;
            const auto alpha = hasAlpha ? px[3] : (juce::uint8) 0xff;
            image.setPixelAt (x, y, juce::Colour (px[2], px[1], px[0], alpha));
        }
    }

    return image;
}

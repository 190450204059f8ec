#pragma once

#include <juce_graphics/juce_graphics.h>

/** Uncompressed 24- and 32-bit Windows bitmaps, bottom-up rows; anything else,
    or a block too short for the rows its header declares, gives an invalid image.
*/
namespace BmpDecoder
{
    juce::Image decode (const void* data, size_t size);
}

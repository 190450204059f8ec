#pragma once

#include <memory>

#include <juce_graphics/juce_graphics.h>

/** The process-wide image singleton: decodes the compiled-in emblem once and
    keeps it for the life of the main component.
*/
class ImageLoader final
{
public:
    static constexpr int numImages = 1;

    static ImageLoader* getInstance();
    static void deleteInstance();

    virtual ~ImageLoader();

    /** The decoded image, or nullptr for an index out of range or a block that did not decode. */
    const juce::Image* getImage (int index) const;

    /** How many blocks this process has decoded (the emblem should be decoded once). */
    static int getDecodeCount() noexcept;

    /** Decodes one block: any format the image cache knows, else a 24/32-bit BMP. */
    static std::unique_ptr<juce::Image> decode (const void* data, int size);

private:
    ImageLoader();

    std::unique_ptr<juce::Image> images[numImages];

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ImageLoader)
};

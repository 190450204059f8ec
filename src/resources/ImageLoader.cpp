#include "resources/ImageLoader.h"

#include "QvrData.h"
#include "resources/BmpDecoder.h"

#include <atomic>

namespace
{
    ImageLoader* instance = nullptr;
    std::atomic<int> decodeCount { 0 };

    struct ImageBlock
    {
        const char* data;
        int size;
    };

    ImageBlock imageBlock (int index)
    {
        switch (index)
        {
            case 0: return { QvrData::emblem_png, QvrData::emblem_pngSize };
            default: return { nullptr, 0 };
        }
    }
}

ImageLoader::ImageLoader()
{
    for (int i = 0; i < numImages; ++i)
    {
        const auto block = imageBlock (i);
        images[i] = decode (block.data, block.size);
        ++decodeCount;
    }
}

ImageLoader::~ImageLoader() = default;

ImageLoader* ImageLoader::getInstance()
{
    if (instance == nullptr)
        instance = new ImageLoader();

    return instance;
}

void ImageLoader::deleteInstance()
{
    delete instance;
    instance = nullptr;
}

const juce::Image* ImageLoader::getImage (int index) const
{
    return juce::isPositiveAndBelow (index, numImages) ? images[index].get() : nullptr;
}

int ImageLoader::getDecodeCount() noexcept
{
    return decodeCount.load();
}

std::unique_ptr<juce::Image> ImageLoader::decode (const void* data, int size)
{
    if (data == nullptr || size <= 0)
        return {};

    auto image = juce::ImageCache::getFromMemory (data, size);

    if (! image.isValid())
        image = BmpDecoder::decode (data, (size_t) size);

    if (! image.isValid())
        return {};

    return std::make_unique<juce::Image> (image);
}

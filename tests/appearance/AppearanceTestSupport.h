#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace appearancetest
{
    /** Pixels in the area that differ clearly from the background: where ink fell. */
    inline int countInk (const juce::Image& image, juce::Rectangle<int> area, juce::Colour background)
    {
        int count = 0;

        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
            {
                const auto p = image.getPixelAt (x, y);

                if (std::abs (p.getRed() - background.getRed()) + std::abs (p.getGreen() - background.getGreen())
                        + std::abs (p.getBlue() - background.getBlue()) > 96)
                    ++count;
            }

        return count;
    }

    /** The text drawn in one font, black on white. */
    inline juce::Image renderText (const juce::String& text, const juce::Font& font)
    {
        juce::Image image (juce::Image::RGB, 200, 30, true);
        juce::Graphics g (image);
        g.fillAll (juce::Colours::white);
        g.setColour (juce::Colours::black);
        g.setFont (font);
        g.drawText (text, image.getBounds(), juce::Justification::centredLeft, false);
        return image;
    }

    inline bool sameImage (const juce::Image& a, const juce::Image& b)
    {
        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;

        return true;
    }
} // namespace appearancetest

#include "appearance/BtnLookAndFeel.h"

BtnLookAndFeel::BtnLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::getLightColourScheme())
{
}

BtnLookAndFeel::~BtnLookAndFeel() = default;

float BtnLookAndFeel::getOutlineThickness (bool isEnabled, bool isMouseOver, bool isButtonDown) noexcept
{
    if (! isEnabled)
        return 0.4f;

    return (isButtonDown || isMouseOver) ? 1.2f : 0.7f;
}

void BtnLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button,
                                           const juce::Colour& backgroundColour,
                                           bool isMouseOverButton, bool isButtonDown)
{
    const bool enabled = button.isEnabled();
    const auto thickness = getOutlineThickness (enabled, isMouseOverButton, isButtonDown);

    // A connected side meets its neighbour, so it is drawn almost to the edge.
    auto indent = [thickness] (bool connected) { return connected ? 0.1f : thickness * 0.5f; };
    const auto left = indent (button.isConnectedOnLeft());
    const auto right = indent (button.isConnectedOnRight());
    const auto top = indent (button.isConnectedOnTop());
    const auto bottom = indent (button.isConnectedOnBottom());

    const auto colour = getButtonBaseColour (backgroundColour, button.hasKeyboardFocus (true),
                                             isMouseOverButton, isButtonDown)
                            .withMultipliedAlpha (enabled ? 1.0f : 0.5f);

    drawFlatButtonShape (g, left, top,
                         (float) button.getWidth() - left - right,
                         (float) button.getHeight() - top - bottom,
                         colour, thickness, -1.0f,
                         button.isConnectedOnLeft(), button.isConnectedOnRight(),
                         button.isConnectedOnTop(), button.isConnectedOnBottom());

    if (enabled && button.hasKeyboardFocus (false))
        drawFocusRing (g, button.getLocalBounds());
}

void BtnLookAndFeel::drawFlatProgressBar (juce::Graphics& g, juce::Component& bar, int width, int height,
                                          double progress, const juce::String& textToShow)
{
    const auto panel = bar.findColour (juce::ProgressBar::backgroundColourId);
    const auto thickness = getOutlineThickness (true, false, false);
    const juce::Rectangle<float> area (0.0f, 0.0f, (float) width, (float) height);

    g.setColour (panel);
    g.fillRect (area);

    if (progress > 0.0)
    {
        g.setColour (getButtonBaseColour (panel, false, false, true));
        g.fillRect (area.withWidth (area.getWidth() * (float) juce::jmin (1.0, progress)));
    }

    g.setColour (panel.darker (0.4f));
    g.drawRect (area, thickness);

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colours::black);
        g.setFont (juce::Font ((float) height * 0.5f));
        // Squeezed a little rather than cut off where a language's words run long.
        g.drawFittedText (textToShow, area.reduced (4.0f, 0.0f).toNearestInt(), juce::Justification::centred, 1, 0.8f);
    }
}

juce::Colour getButtonBaseColour (juce::Colour backgroundColour, bool hasKeyboardFocus,
                                  bool isMouseOverButton, bool isButtonDown)
{
    const auto base = backgroundColour.withMultipliedSaturation (hasKeyboardFocus ? 1.3f : 0.9f);

    // Light colours darken, dark ones lighten; the threshold is the sum of the channels.
    auto contrasting = [&base] (float amount)
    {
        const int sum = base.getRed() + base.getGreen() + base.getBlue();
        const auto overlay = sum >= 384 ? juce::Colours::black : juce::Colours::white;
        return base.overlaidWith (overlay.withAlpha (amount));
    };

    if (isButtonDown)
        return contrasting (0.2f);

    if (isMouseOverButton)
        return contrasting (0.1f);

    return base;
}

void drawFlatButtonShape (juce::Graphics& g, float x, float y, float width, float height,
                          juce::Colour colour, float outlineThickness, float cornerSize,
                          bool flatOnLeft, bool flatOnRight, bool flatOnTop, bool flatOnBottom)
{
    if (width <= outlineThickness || height <= outlineThickness)
        return;

    const auto cs = cornerSize >= 0.0f ? cornerSize : juce::jmin (width * 0.5f, height * 0.5f);

    juce::Path outline;
    outline.addRoundedRectangle (x, y, width, height, cs, cs,
                                 ! (flatOnLeft || flatOnTop),
                                 ! (flatOnRight || flatOnTop),
                                 ! (flatOnLeft || flatOnBottom),
                                 ! (flatOnRight || flatOnBottom));

    g.setColour (colour);
    g.fillPath (outline);

    g.setColour (colour.darker (0.4f).withMultipliedAlpha (1.5f));
    g.strokePath (outline, juce::PathStrokeType (outlineThickness, juce::PathStrokeType::mitered,
                                                 juce::PathStrokeType::butt));
}

void drawFocusRing (juce::Graphics& g, juce::Rectangle<int> controlBounds)
{
    g.setColour (juce::Colours::black);
    g.drawRect (controlBounds.reduced (3), 1);
}

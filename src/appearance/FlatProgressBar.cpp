#include "appearance/FlatProgressBar.h"

namespace
{
    class ProgressValue final : public juce::AccessibilityValueInterface
    {
    public:
        explicit ProgressValue (FlatProgressBar& b) : bar (b) {}

        bool isReadOnly() const override { return true; }
        double getCurrentValue() const override { return bar.getProgress(); }
        juce::String getCurrentValueAsString() const override { return bar.getText(); }
        void setValue (double) override {}
        void setValueAsString (const juce::String&) override {}
        AccessibleValueRange getRange() const override { return { { 0.0, 1.0 }, 0.001 }; }

    private:
        FlatProgressBar& bar;
    };
}

FlatProgressBar::FlatProgressBar()
    : juce::Component ("progress")
{
}

FlatProgressBar::~FlatProgressBar() = default;

void FlatProgressBar::setProgress (double fraction, const juce::String& newText)
{
    if (fraction == progress && newText == text)
        return;

    progress = fraction;
    text = newText;
    repaint();

    if (auto* handler = getAccessibilityHandler())
        handler->notifyAccessibilityEvent (juce::AccessibilityEvent::valueChanged);
}

void FlatProgressBar::paint (juce::Graphics& g)
{
    if (auto* methods = dynamic_cast<LookAndFeelMethods*> (&getLookAndFeel()))
        methods->drawFlatProgressBar (g, *this, getWidth(), getHeight(), progress, text);
}

std::unique_ptr<juce::AccessibilityHandler> FlatProgressBar::createAccessibilityHandler()
{
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::progressBar, juce::AccessibilityActions(),
        juce::AccessibilityHandler::Interfaces { std::make_unique<ProgressValue> (*this) });
}

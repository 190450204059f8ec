#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The language list's popup: each language's name in that language's own font
    (a Japanese name stays legible while the interface is English), on a dark
    navy highlight; and the list itself with the buttons' focus mark while it
    has the keyboard focus. Set on the language list; owned by the main component.
*/
class LangLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    LangLookAndFeel();
    ~LangLookAndFeel() override;

    void drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                            bool isSeparator, bool isActive, bool isHighlighted, bool isTicked,
                            bool hasSubMenu, const juce::String& text, const juce::String& shortcutKeyText,
                            const juce::Drawable* icon, const juce::Colour* textColour) override;

    void drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown,
                       int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box) override;

    /** The typeface an item with this text is drawn in: its language's font, or the default. */
    static juce::String getTypefaceNameForItem (const juce::String& itemText);

    static constexpr juce::uint32 highlightColour = 0xff000040;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LangLookAndFeel)
};

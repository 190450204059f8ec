#include "appearance/LangLookAndFeel.h"

#include "appearance/BtnLookAndFeel.h"
#include "appearance/Typefaces.h"
#include "resources/TxtLoader.h"

LangLookAndFeel::LangLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::getLightColourScheme())
{
}

LangLookAndFeel::~LangLookAndFeel() = default;

juce::String LangLookAndFeel::getTypefaceNameForItem (const juce::String& itemText)
{
    auto* txt = TxtLoader::getInstance();

    for (int language = 0; language < TxtLoader::numLanguages; ++language)
        if (itemText.equalsIgnoreCase (txt->getLanguageName (language)))
            return txt->getFontName (language);

    return getDefaultSansSerifName();
}

void LangLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown,
                                    int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box)
{
    juce::LookAndFeel_V4::drawComboBox (g, width, height, isButtonDown, buttonX, buttonY, buttonW, buttonH, box);

    if (box.hasKeyboardFocus (false))
        drawFocusRing (g, box.getLocalBounds());
}

void LangLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area,
                                         bool isSeparator, bool isActive, bool isHighlighted, bool isTicked,
                                         bool hasSubMenu, const juce::String& text,
                                         const juce::String& shortcutKeyText,
                                         const juce::Drawable* icon, const juce::Colour* textColour)
{
    juce::Graphics::ScopedSaveState saved (g);
    g.setOrigin (area.getPosition());

    const int width = area.getWidth();
    const int height = area.getHeight();
    const float halfH = (float) height * 0.5f;

    if (isSeparator)
    {
        g.setColour (juce::Colour (0x33000000));
        g.drawLine (5.5f, halfH, (float) width - 5.5f, halfH);
        g.setColour (juce::Colour (0x66ffffff));
        g.drawLine (5.5f, halfH + 1.0f, (float) width - 5.5f, halfH + 1.0f);
        return;
    }

    auto colour = findColour (juce::PopupMenu::textColourId);

    if (textColour != nullptr)
        colour = *textColour;

    if (isHighlighted)
    {
        g.setColour (juce::Colour (highlightColour));
        g.fillRect (1, 1, width - 2, height - 2);
        g.setColour (findColour (juce::PopupMenu::highlightedTextColourId));
    }
    else
    {
        g.setColour (colour);
    }

    if (! isActive)
        g.setOpacity (0.3f);

    // The popup font has no typeface name of its own: it follows the default,
    // which is switched to the item's language only while this item is drawn.
    ScopedDefaultSansSerifName restoreDefault;
    setDefaultSansSerifName (getTypefaceNameForItem (text));

    auto font = getPopupMenuFont();
    const float maxFontHeight = (float) height / 1.3f;

    if (font.getHeight() > maxFontHeight)
        font.setHeight (maxFontHeight);

    g.setFont (font);

    const int leftBorder = (height * 5) / 4;
    const int rightBorder = 4;

    if (icon != nullptr)
    {
        icon->drawWithin (g, juce::Rectangle<float> (2.0f, 1.0f, (float) (leftBorder - 4), (float) (height - 2)),
                          juce::RectanglePlacement (juce::RectanglePlacement::centred
                                                    | juce::RectanglePlacement::onlyReduceInSize),
                          1.0f);
    }
    else if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        const auto ascent = font.getAscent();
        g.fillPath (tick, tick.getTransformToScaleToFit (2.0f, halfH - ascent * 0.5f,
                                                         (float) (leftBorder - 4), ascent, true));
    }

    g.drawFittedText (text, leftBorder, 0, width - leftBorder - rightBorder, height,
                      juce::Justification::centredLeft, 1, 0.7f);

    if (shortcutKeyText.isNotEmpty())
    {
        auto shortcutFont = font;
        shortcutFont.setHeight (font.getHeight() * 0.75f);
        shortcutFont.setHorizontalScale (0.95f);
        g.setFont (shortcutFont);
        g.drawText (shortcutKeyText, leftBorder, 0, width - leftBorder - 8, height,
                    juce::Justification::centredRight, true);
    }

    if (hasSubMenu)
    {
        const auto arrowH = 0.6f * getPopupMenuFont().getAscent();
        const auto x = (float) width - (float) height * 0.6f;

        juce::Path arrow;
        arrow.addTriangle (x, halfH - arrowH * 0.5f, x, halfH + arrowH * 0.5f, x + arrowH * 0.6f, halfH);
        g.fillPath (arrow);
    }
}

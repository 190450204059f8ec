#include "app/SecondStartNotice.h"

#include "appearance/ScreenLookAndFeel.h"
#include "appearance/Typefaces.h"
#include "resources/TxtLoader.h"

SecondStartNotice::SecondStartNotice (NoticeText text, std::function<void()> dismissed)
{
    auto* txt = TxtLoader::getInstance();

    // The same fonts as the main screen's boxes: Japanese needs its own typeface.
    lookAndFeel = std::make_unique<ScreenLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel (lookAndFeel.get());
    setDefaultSansSerifName (txt->getCurrentFontName());

    // Titled with the program's name: no window of ours stands behind this box.
    box.reset (lookAndFeel->createAlertWindow (txt->getString (1), getNoticeText (text, txt->getLanguage()),
                                               txt->getString (2), {}, {}, juce::MessageBoxIconType::NoIcon,
                                               1, nullptr));
    box->enterModalState (true, juce::ModalCallbackFunction::create ([dismissed] (int) { dismissed(); }), false);
}

SecondStartNotice::~SecondStartNotice()
{
    // The box goes before the look that draws it.
    box = nullptr;
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    lookAndFeel = nullptr;
    TxtLoader::deleteInstance();
}

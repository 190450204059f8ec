#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "resources/NoticeTexts.h"

class ScreenLookAndFeel;

/** What a later start shows instead of a window of its own when a copy of the
    tool already runs with another update file, or would not say with which:
    one box in the user's language, and the program ends once it is dismissed.
    The running copy is left exactly as it was. Owned by the application.
*/
class SecondStartNotice final
{
public:
    SecondStartNotice (NoticeText text, std::function<void()> dismissed);
    ~SecondStartNotice();

private:
    std::unique_ptr<ScreenLookAndFeel> lookAndFeel;
    std::unique_ptr<juce::AlertWindow> box;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SecondStartNotice)
};

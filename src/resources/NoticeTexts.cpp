#include "resources/NoticeTexts.h"

namespace
{
    // Written here as valid UTF-8, so the conversion below never meets malformed input.
    constexpr const char* texts[][2] = {
        { "An update with another file is already running.\n"
          "Finish or close it, then open this file again.",
          "別のファイルでのアップデートがすでに実行中です。\n"
          "実行中のアップデートを完了または終了してから、このファイルをもう一度開いてください。" },
        { "An update is already running, and it could not be checked whether it has this file.\n"
          "Finish or close it, then open this file again.",
          "アップデートがすでに実行中ですが、このファイルと同じかどうかを確認できませんでした。\n"
          "実行中のアップデートを完了または終了してから、このファイルをもう一度開いてください。" },
        { "waiting {seconds} s",
          "待機中 {seconds} 秒" },
    };
}

juce::String getNoticeText (NoticeText text, int language)
{
    if (language < 0 || language > 1)
        return {};

    return juce::String (juce::CharPointer_UTF8 (texts[(int) text][language]));
}

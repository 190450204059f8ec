#include "net/SendProgress.h"

#include <cmath>

#include "net/Update.h"

namespace
{
    // Before this, the measured pace still holds the connect's first moments;
    // after it, it beats the ideal one, which a coarse system timer makes many
    // times too short (each 1 ms pause lasting a whole 15.6 ms tick).
    constexpr double secondsBeforeMeasuredPace = 3.0;
}

juce::int64 SendProgress::secondsLeft() const noexcept
{
    const auto left = juce::jmax ((juce::int64) 0, total - taken);

    if (seconds >= secondsBeforeMeasuredPace && taken > 0)
        return (juce::int64) std::ceil ((double) left * seconds / (double) taken);

    const auto chunksLeft = (left + Update::chunkSize - 1) / Update::chunkSize;
    return (chunksLeft + 999) / 1000;
}

namespace
{
    struct Unit
    {
        double size;
        int decimals;
        const char* name;
    };

    // The unit a number of bytes reads best in; both sides of "taken / total" use the total's.
    Unit unitFor (juce::int64 bytes)
    {
        if (bytes < 1000)
            return { 1.0, 0, "B" };

        if (bytes < 1000 * 1000)
            return { 1.0e3, 0, "kB" };

        if (bytes < (juce::int64) 1000 * 1000 * 1000)
            return { 1.0e6, 1, "MB" };

        return { 1.0e9, 1, "GB" };
    }

    juce::String number (juce::int64 bytes, const Unit& unit)
    {
        return unit.decimals == 0 ? juce::String ((juce::int64) ((double) bytes / unit.size))
                                  : juce::String ((double) bytes / unit.size, unit.decimals);
    }
}

juce::String SendProgress::describeAmount() const
{
    // Floored, so that the bar never claims 100 % while bytes are still to go.
    const auto percent = total > 0 ? (int) (taken * 100 / total) : 0;
    const auto unit = unitFor (total);
    return juce::String (percent) + " %  " + number (taken, unit) + " / " + number (total, unit) + " " + unit.name;
}

juce::String SendProgress::describe() const
{
    return describeAmount() + "  " + formatDuration (secondsLeft());
}

juce::String SendProgress::formatBytes (juce::int64 bytes)
{
    const auto unit = unitFor (bytes);
    return number (bytes, unit) + " " + unit.name;
}

juce::String SendProgress::formatDuration (juce::int64 seconds)
{
    const auto h = seconds / 3600, m = (seconds / 60) % 60, s = seconds % 60;
    const auto ss = juce::String (s).paddedLeft ('0', 2);

    return h > 0 ? juce::String (h) + ":" + juce::String (m).paddedLeft ('0', 2) + ":" + ss
                 : juce::String (m) + ":" + ss;
}

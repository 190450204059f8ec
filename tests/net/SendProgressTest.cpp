#include <gtest/gtest.h>

#include "net/SendProgress.h"

TEST (SendProgress, ReadsAsPercentBytesOfTotalAndTimeLeftAtTheMixersPace)
{
    // Seconds since the send began: the measured pace counts only from 3 s on.
    const struct { juce::int64 taken, total; double seconds; const char* text; } cases[] = {
        { 0, 0, 0.0, "0 %  0 / 0 B  0:00" },
        { 0, 300, 0.0, "0 %  0 / 300 B  0:01" },
        { 126000, 300000, 0.0, "42 %  126 / 300 kB  0:01" },
        { 999999, 999999, 5.0, "100 %  999 / 999 kB  0:00" },
        { 500000, 1000000, 0.0, "50 %  0.5 / 1.0 MB  0:01" },
        { 6720000, 16000000, 2.9, "42 %  6.7 / 16.0 MB  0:10" },     // 9 063 chunks left
        { 6720000, 16000000, 12.0, "42 %  6.7 / 16.0 MB  0:17" },    // a coarse timer's pace
        { 16777215, 16777216, 20.0, "99 %  16.8 / 16.8 MB  0:01" },  // 100 % only once all is taken
        { 16777216, 16777216, 20.0, "100 %  16.8 / 16.8 MB  0:00" },
        { 0, 4294967295, 5.0, "0 %  0.0 / 4.3 GB  1:09:55" },
    };

    for (auto& c : cases)
        EXPECT_EQ ((SendProgress { c.taken, c.total, c.seconds }.describe()), c.text);

    EXPECT_EQ ((SendProgress { 1, 4 }.fraction()), 0.25);

    // Taking nothing for a few seconds is a stall, not a time left that grows.
    EXPECT_FALSE ((SendProgress { 1, 4, 9.0, 4.9 }.isStalled()));
    EXPECT_TRUE ((SendProgress { 1, 4, 9.0, 5.0 }.isStalled()));
}

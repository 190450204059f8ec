// How long a "1 ms" pause really lasts with each way of waiting, the question
// that decides the transfer's pace. Prints one JSON line of means in ms.

#include <cstdio>
#include <ctime>
#include <sys/prctl.h>

#include <juce_core/juce_core.h>

namespace
{
    long long nowNs()
    {
        timespec t;
        clock_gettime (CLOCK_MONOTONIC, &t);
        return (long long) t.tv_sec * 1000000000LL + t.tv_nsec;
    }

    template <typename Pause>
    double meanMs (Pause&& pause, int rounds = 2000)
    {
        const auto start = nowNs();
        for (int i = 0; i < rounds; ++i)
            pause (nowNs());
        return (double) (nowNs() - start) / rounds / 1e6;
    }

    void sleepNs (long ns)
    {
        timespec t { 0, ns };
        nanosleep (&t, nullptr);
    }

    void sleepThenSpin (long long from, long spinNs)
    {
        const auto deadline = from + 1000000;
        const auto sleepUntil = deadline - spinNs;
        timespec t { (time_t) (sleepUntil / 1000000000LL), (long) (sleepUntil % 1000000000LL) };
        clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
        while (nowNs() < deadline)
        {
        }
    }
}

int main()
{
    juce::WaitableEvent event;
    const auto threadWait = meanMs ([&] (long long) { event.wait (1); });
    const auto plainSleep = meanMs ([] (long long) { sleepNs (1000000); });

    prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const auto tightSleep = meanMs ([] (long long) { sleepNs (1000000); });
    const auto tightThreadWait = meanMs ([&] (long long) { event.wait (1); });
    const auto spin60 = meanMs ([] (long long from) { sleepThenSpin (from, 60000); });
    const auto spin150 = meanMs ([] (long long from) { sleepThenSpin (from, 150000); });
    const auto spin250 = meanMs ([] (long long from) { sleepThenSpin (from, 250000); });

    std::printf ("{\"juce_wait_1ms\": %.4f, \"nanosleep_default_slack\": %.4f, \"nanosleep_slack_1ns\": %.4f, "
                 "\"juce_wait_slack_1ns\": %.4f, \"sleep_then_spin_60us\": %.4f, \"sleep_then_spin_150us\": %.4f, \"sleep_then_spin_250us\": %.4f}\n",
                 threadWait, plainSleep, tightSleep, tightThreadWait, spin60, spin150, spin250);
    return 0;
}

#include "net/Pacer.h"

#include <algorithm>

namespace
{
    using Clock = TransferSession::Clock;
    using Kind = TransferSession::Next::Kind;

    // A full socket is tried again this soon: the mixer reading again costs
    // at most this much delay, and trying costs one failed send.
    constexpr auto retryAfter = std::chrono::milliseconds (1);

    // The longest wait without a look at the exit flag or at newcomers.
    constexpr auto idleWait = std::chrono::milliseconds (50);

    struct Entry
    {
        std::shared_ptr<TransferSession> session;
        Clock::time_point due;
        bool precise;
    };
}

Pacer::Pacer() : juce::Thread ("QVR7000_UPDATE") {}

Pacer::~Pacer()
{
    stopThread (-1);

    // Sessions added after the loop ended never started; they end as stopped too.
    for (auto& s : pending)
        s->stop();
}

void Pacer::add (std::shared_ptr<TransferSession> session)
{
    {
        const std::lock_guard<std::mutex> lock (pendingLock);
        pending.push_back (std::move (session));
    }

    notify();
}

void Pacer::run()
{
    serve ({}, *this, onFinished, [this] (std::vector<std::shared_ptr<TransferSession>>& into)
    {
        const std::lock_guard<std::mutex> lock (pendingLock);
        into.insert (into.end(), pending.begin(), pending.end());
        pending.clear();
    });
}

void Pacer::serve (std::vector<std::shared_ptr<TransferSession>> sessions, juce::Thread& thread,
                   const std::function<void (TransferSession&)>& finished,
                   const std::function<void (std::vector<std::shared_ptr<TransferSession>>&)>& takeNew)
{
    netcalls::preferPreciseSleeps();

    const auto stopRequested = [&thread] { return thread.threadShouldExit(); };
    std::vector<Entry> entries;
    const auto join = [&entries] (std::vector<std::shared_ptr<TransferSession>>& newcomers)
    {
        // Lined up with the chunks already due next, so that all of them go
        // out in one wake-up; at most one pause later than it could.
        auto due = Clock::now();

        for (auto& e : entries)
            if (e.precise)
                due = std::max (due, e.due);

        for (auto& s : newcomers)
            entries.push_back ({ std::move (s), due, true });

        newcomers.clear();
    };

    join (sessions);

    for (;;)
    {
        if (stopRequested())
            break;

        if (takeNew)
        {
            takeNew (sessions);
            join (sessions);
        }
        else if (entries.empty())
            return;

        // Every session whose time has come, in turn; the others say when.
        for (auto it = entries.begin(); it != entries.end();)
        {
            if (it->due > Clock::now())
            {
                ++it;
                continue;
            }

            const auto next = it->session->serve();

            if (next.kind == Kind::finished)
            {
                if (finished)
                    finished (*it->session);

                it = entries.erase (it);
                continue;
            }

            it->precise = next.kind == Kind::pacedAt;
            it->due = next.kind == Kind::whenRoom ? Clock::now() + retryAfter : next.at;
            ++it;
        }

        if (entries.empty() && ! takeNew)
            return;

        auto wake = Clock::now() + idleWait;
        bool precise = false;

        for (auto& e : entries)
        {
            if (e.due < wake || (e.due == wake && e.precise))
            {
                wake = e.due;
                precise = e.precise;
            }
        }

        // A chunk's pause ends exactly; anything else may wake a little late,
        // and a newcomer or a stop request wakes the wait at once.
        if (precise)
            netcalls::pauseUntil (wake, stopRequested);
        else if (const auto ms = std::chrono::ceil<std::chrono::milliseconds> (wake - Clock::now()).count(); ms > 0)
            thread.wait ((int) ms);
    }

    for (auto& e : entries)
    {
        e.session->stop();

        if (finished)
            finished (*e.session);
    }
}

#include "secondstart/RunningCopy.h"

#include <limits>

#include "net/UpdateEnvironment.h"
#include "platform/RegularFileReader.h"

namespace
{
    constexpr char requestWord[] = "raise ";
    constexpr size_t requestWordLength = sizeof (requestWord) - 1;
    constexpr char noFile[] = "none";
    constexpr size_t hashDigits = 64;

    // The asking side waits this long for an answer, plus twice what reading
    // its own file took: the running copy reads as much when the sizes agree.
    constexpr int answerMilliseconds = 3000;

    // A copy that has just taken the lock starts listening a moment later.
    constexpr int connectAttempts = 20;
    constexpr int connectRetryMilliseconds = 50;

    // The raise runs on the message thread; the answer waits for it this long.
    constexpr int deliverySlices = 20;
    constexpr int deliverySliceMilliseconds = 50;

    constexpr juce::int64 anySize = -1;

    // Any file, update file or not, by size and content; hashing reads it
    // whole, so it is skipped where the size alone already tells two apart.
    std::string describe (const juce::File& file, const std::function<bool()>& shouldStop, juce::int64 hashOnlyAtSize)
    {
        if (hashOnlyAtSize != anySize)
            if (const RegularFileReader reader (file); ! reader.isOpen() || reader.getSize() != hashOnlyAtSize)
                return reader.isOpen() ? std::to_string (reader.getSize()) : noFile;

        const auto reading = UpdateEnvironment::readFile (file, shouldStop, true, std::numeric_limits<juce::int64>::max());

        // A file that is not there, could not be read or was given up on describes nothing.
        return reading.whole ? std::to_string (reading.size) + " " + reading.sha256.toStdString() : std::string (noFile);
    }

    bool isLockFree (const juce::String& applicationName)
    {
        // The lock JUCE takes for a one-instance application. fcntl locks end
        // when any handle of ours on the file closes, so ours is gone before
        // JUCE opens its own.
        juce::InterProcessLock lock ("juceAppLock_" + applicationName);

        if (! lock.enter (0))
            return false;

        lock.exit();
        return true;
    }

    bool allOf (const std::string& text, size_t from, size_t to, const char* allowed)
    {
        return from < to && text.find_first_not_of (allowed, from) >= to;
    }
}

RunningCopy::RunningCopy (const juce::String& applicationName, juce::File file, std::function<void()> onRaise)
    : updateFile (std::move (file)),
      delivery (std::make_shared<Delivery>()),
      channel (LocalChannel::nameFor (applicationName),
               [this] (const std::string& request, const std::function<bool()>& stopping) { return answerFor (request, stopping); })
{
    delivery->onRaise = std::move (onRaise);
}

RunningCopy::~RunningCopy()
{
    stop();
}

bool RunningCopy::start()
{
    return channel.start();
}

void RunningCopy::stop()
{
    delivery->live = false;
    channel.stop();
}

std::string RunningCopy::describeFile (const juce::File& file, const std::function<bool()>& shouldStop)
{
    return describe (file, shouldStop, anySize);
}

std::string RunningCopy::answerFor (const std::string& request, const std::function<bool()>& stopping) const
{
    if (request.compare (0, requestWordLength, requestWord) != 0)
        return {};

    const auto asked = request.substr (requestWordLength);
    juce::int64 askedSize = -2;   // "none": no size of ours is worth hashing for

    if (asked != noFile)
    {
        const auto space = asked.find (' ');

        if (space == std::string::npos || space > 15 || ! allOf (asked, 0, space, "0123456789")
            || asked.size() != space + 1 + hashDigits || ! allOf (asked, space + 1, asked.size(), "0123456789abcdef"))
            return {};

        askedSize = std::stoll (asked.substr (0, space));
    }

    const auto mine = describe (updateFile, stopping, askedSize);

    if (stopping())
        return {};

    deliverAndWait (stopping);
    return mine == asked ? "same" : "other";
}

void RunningCopy::deliverAndWait (const std::function<bool()>& stopping) const
{
    auto done = std::make_shared<juce::WaitableEvent>();

    juce::MessageManager::callAsync ([target = delivery, done]
    {
        if (target->live)
            target->onRaise();

        done->signal();
    });

    for (int i = 0; i < deliverySlices && ! stopping(); ++i)
        if (done->wait (deliverySliceMilliseconds))
            return;
}

RunningCopy::Answer RunningCopy::ask (const juce::String& applicationName, const juce::File& file)
{
    if (isLockFree (applicationName))
        return Answer::noneRunning;

    const auto started = juce::Time::getMillisecondCounter();
    const auto request = requestWord + describeFile (file);
    const auto timeoutMs = answerMilliseconds + 2 * (int) (juce::Time::getMillisecondCounter() - started);
    const auto channelName = LocalChannel::nameFor (applicationName);

    for (int attempt = 0; attempt < connectAttempts; ++attempt)
    {
        std::string answer;

        if (LocalChannel::exchange (channelName, request, timeoutMs, answer))
            return answer == "same" ? Answer::sameFile : answer == "other" ? Answer::otherFile : Answer::noAnswer;

        if (isLockFree (applicationName))
            return Answer::noneRunning;

        juce::Thread::sleep (connectRetryMilliseconds);
    }

    return Answer::noAnswer;
}

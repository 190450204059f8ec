#include "platform/RaiseRequests.h"

#include <juce_cryptography/juce_cryptography.h>

#include "platform/RegularFileReader.h"

// What both systems share: the request and its answer, the file description
// and the asking side. The channels themselves are in RaiseRequestsPosix.cpp
// and RaiseRequestsWindows.cpp.

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

    /** The reader as a stream that ends early when told to stop or on a read error. */
    class ReaderStream final : public juce::InputStream
    {
    public:
        ReaderStream (RegularFileReader& r, const std::function<bool()>& stop)
            : reader (r), shouldStop (stop) {}

        juce::int64 getTotalLength() override { return reader.getSize(); }
        bool isExhausted() override { return ended; }
        juce::int64 getPosition() override { return position; }
        bool setPosition (juce::int64 newPosition) override { return newPosition == position; }

        int read (void* destination, int numBytes) override
        {
            const auto n = (shouldStop && shouldStop()) ? -1 : reader.read (destination, numBytes);

            if (n <= 0)
            {
                ended = true;
                return 0;
            }

            position += n;
            return n;
        }

    private:
        RegularFileReader& reader;
        const std::function<bool()>& shouldStop;
        juce::int64 position = 0;
        bool ended = false;
    };

    // Hashing reads the whole file, so it is skipped where the size alone
    // already tells two files apart.
    std::string describe (const juce::File& file, const std::function<bool()>& shouldStop,
                          const std::function<bool (juce::int64)>& worthHashing)
    {
        RegularFileReader reader (file);

        if (! reader.isOpen())
            return noFile;

        const auto size = reader.getSize();
        std::string description = std::to_string (size);

        if (! worthHashing (size))
            return description;

        ReaderStream raw (reader, shouldStop);
        juce::BufferedInputStream buffered (raw, 64 * 1024);
        const juce::SHA256 hash (buffered, size);

        // A file that shrank, could not be read or was given up on describes nothing.
        if (raw.getPosition() != size)
            return noFile;

        return description + " " + hash.toHexString().toStdString();
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

RaiseRequests::RaiseRequests (std::string channelName, juce::File file, std::function<void()> onRequest)
    : juce::Thread ("QVR7000_RAISE"),
      name (std::move (channelName)),
      updateFile (std::move (file)),
      delivery (std::make_shared<Delivery>())
{
    delivery->onRequest = std::move (onRequest);
}

RaiseRequests::~RaiseRequests()
{
    stop();
}

std::string RaiseRequests::describeFile (const juce::File& file, const std::function<bool()>& shouldStop)
{
    return describe (file, shouldStop, [] (juce::int64) { return true; });
}

std::string RaiseRequests::answerFor (const std::string& request)
{
    if (request.compare (0, requestWordLength, requestWord) != 0)
        return {};

    const auto asked = request.substr (requestWordLength);
    juce::int64 askedSize = -1;

    if (asked != noFile)
    {
        const auto space = asked.find (' ');

        if (space == std::string::npos || space > 15 || ! allOf (asked, 0, space, "0123456789")
            || asked.size() != space + 1 + hashDigits || ! allOf (asked, space + 1, asked.size(), "0123456789abcdef"))
            return {};

        askedSize = std::stoll (asked.substr (0, space));
    }

    const std::function<bool()> stopping = [this] { return threadShouldExit(); };
    const auto mine = describe (updateFile, stopping, [askedSize] (juce::int64 size) { return size == askedSize; });

    if (threadShouldExit())
        return {};

    deliverAndWait();
    return mine == asked ? "same" : "other";
}

void RaiseRequests::deliverAndWait()
{
    auto done = std::make_shared<juce::WaitableEvent>();

    juce::MessageManager::callAsync ([target = delivery, done]
    {
        if (target->live)
            target->onRequest();

        done->signal();
    });

    for (int i = 0; i < deliverySlices && ! threadShouldExit(); ++i)
        if (done->wait (deliverySliceMilliseconds))
            return;
}

RaiseRequests::Answer RaiseRequests::askRunningInstance (const juce::String& applicationName, const juce::File& file)
{
    if (isLockFree (applicationName))
        return Answer::noneRunning;

    const auto started = juce::Time::getMillisecondCounter();
    const auto request = requestWord + describeFile (file);
    const auto timeoutMs = answerMilliseconds + 2 * (int) (juce::Time::getMillisecondCounter() - started);
    const auto channel = channelNameFor (applicationName);

    for (int attempt = 0; attempt < connectAttempts; ++attempt)
    {
        std::string answer;

        if (exchange (channel, request, timeoutMs, answer))
            return answer == "same" ? Answer::sameFile : answer == "other" ? Answer::otherFile : Answer::noAnswer;

        if (isLockFree (applicationName))
            return Answer::noneRunning;

        juce::Thread::sleep (connectRetryMilliseconds);
    }

    return Answer::noAnswer;
}

#include "net/Update.h"
#include "net/CallOnExit.h"

#include "net/UpdateEnvironment.h"
#include "platform/NetCalls.h"
#include "platform/RegularFileReader.h"

namespace
{
    using Clock = std::chrono::steady_clock;

    // The mixer relies on a pause of at least this long after each chunk.
    constexpr auto chunkPause = std::chrono::microseconds (1000);
}

Update::Update (juce::StreamingSocket& connectionToUse, juce::File fileToSend)
    : juce::Thread ("QVR7000_UPDATE"),
      connection (connectionToUse),
      updateFile (std::move (fileToSend))
{
}

Update::~Update()
{
    // Every wait of the transfer looks at the exit flag at least every 50 ms,
    // also a send held up by a peer that stopped reading.
    stopThread (-1);
}

void Update::run()
{
    const CallOnExit finished { onFinished };
    const auto stopRequested = [this] { return threadShouldExit(); };

    netcalls::preferPreciseSleeps();

    // Opened before anything is sent, so a missing file leaves the stream untouched.
    RegularFileReader reader (updateFile == juce::File() ? UpdateEnvironment::getUpdateFile() : updateFile);

    if (! reader.isOpen())
    {
        status = fileMissing;
        return;
    }

    const auto size = reader.getSize();

    if (size > UpdateEnvironment::maxUpdateFileSize)
    {
        status = sizeChanged;
        return;
    }

    // Sends wait for room in bounded slices (see sendAll), never blocked inside the system.
    const auto handle = connection.getRawSocketHandle();
    const auto length = (juce::uint32) size;
    const char prefix[4] = { (char) (length >> 24), (char) (length >> 16), (char) (length >> 8), (char) length };
    const auto prefixSent = netcalls::setBlocking (handle, false)
                                ? netcalls::sendAll (handle, prefix, sizeof (prefix), stopRequested)
                                : netcalls::SendResult::failed;

    if (prefixSent != netcalls::SendResult::sent)
    {
        status = prefixSent == netcalls::SendResult::stopped ? done : lengthSendFailed;
        return;
    }

    totalBytes = size;

    char chunk[chunkSize];
    juce::int64 sent = 0;
    auto n = reader.read (chunk, chunkSize);

    for (;;)
    {
        if (threadShouldExit())
        {
            status = done;
            return;
        }

        // The peer counts on exactly the announced length: a file that has
        // grown or shrunk since is not sent on as if nothing had happened.
        if (n < 0 || sent + n > size || (n < chunkSize && sent + n != size))
        {
            status = sizeChanged;
            return;
        }

        const auto chunkSent = netcalls::sendAll (handle, chunk, (size_t) n, stopRequested);

        if (chunkSent != netcalls::SendResult::sent)
        {
            status = chunkSent == netcalls::SendResult::stopped ? done : chunkSendFailed;
            return;
        }

        // The pause counts from the moment the send returned; the next chunk
        // is read within it, off the paced path.
        const auto pauseEnd = Clock::now() + chunkPause;
        sent += n;
        bytesSent = sent;

        const bool last = n < chunkSize;

        if (! last)
            n = reader.read (chunk, chunkSize);

        netcalls::pauseUntil (pauseEnd, stopRequested);

        if (last)
            break;
    }

    status = done;
}

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

    // How often the wait for the mixer's last acknowledgement looks again; a
    // stop request wakes it at once.
    constexpr int acknowledgementPollMs = 5;

    constexpr int lengthFieldSize = 4;
}

Update::Update (juce::StreamingSocket& connectionToUse, juce::File fileToSend, juce::int64 sizeWhenChecked)
    : juce::Thread ("QVR7000_UPDATE"),
      connection (connectionToUse),
      updateFile (std::move (fileToSend)),
      checkedSize (sizeWhenChecked)
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
    status = send();
}

int Update::send()
{
    const auto stopRequested = [this] { return threadShouldExit(); };

    netcalls::preferPreciseSleeps();

    // Opened before anything is sent, so a missing file leaves the stream untouched.
    RegularFileReader reader (updateFile == juce::File() ? UpdateEnvironment::getUpdateFile() : updateFile);

    if (! reader.isOpen())
        return fileMissing;

    const auto size = reader.getSize();

    if (size > UpdateEnvironment::maxUpdateFileSize)
        return sizeChanged;

    char chunk[chunkSize];
    auto n = reader.read (chunk, chunkSize);

    // The connect phase may have waited for hours since the file was checked.
    // What goes out is checked again, on the handle it is sent from: a file
    // replaced by another or cut meanwhile is not the update file the user
    // confirmed, and "cannot find the update file" (S1) says that far better
    // than the bare send error of a changed size.
    if (n < 0 || ! UpdateEnvironment::beginsWithModelPrefix (chunk, n) || (checkedSize >= 0 && size != checkedSize))
        return fileMissing;

    // Sends wait for room in bounded slices (see sendAll), never blocked inside the system.
    const auto handle = connection.getRawSocketHandle();
    const auto length = (juce::uint32) size;
    const char prefix[lengthFieldSize] = { (char) (length >> 24), (char) (length >> 16), (char) (length >> 8), (char) length };
    const auto prefixSent = netcalls::setBlocking (handle, false)
                                ? netcalls::sendAll (handle, prefix, sizeof (prefix), stopRequested)
                                : netcalls::SendResult::failed;

    if (prefixSent != netcalls::SendResult::sent)
        return prefixSent == netcalls::SendResult::stopped ? done : lengthSendFailed;

    totalBytes = size;
    juce::int64 sent = 0;

    for (;;)
    {
        if (threadShouldExit())
            return done;

        // The peer counts on exactly the announced length: a file that has
        // grown or shrunk since is not sent on as if nothing had happened.
        if (n < 0 || sent + n > size || (n < chunkSize && sent + n != size))
            return sizeChanged;

        const auto chunkSent = netcalls::sendAll (handle, chunk, (size_t) n, stopRequested);

        if (chunkSent != netcalls::SendResult::sent)
            return chunkSent == netcalls::SendResult::stopped ? done : chunkSendFailed;

        // The pause counts from the moment the send returned; the bookkeeping
        // and the next read happen within it, off the paced path.
        const auto pauseEnd = Clock::now() + chunkPause;
        sentHash.update (chunk, (size_t) n);
        sent += n;
        bytesSent = sent;
        noteTaken (netcalls::acknowledgement (handle, lengthFieldSize + sent), sent);

        const bool last = n < chunkSize;

        if (! last)
            n = reader.read (chunk, chunkSize);

        netcalls::pauseUntil (pauseEnd, stopRequested);

        if (last)
            return waitUntilTaken (handle, size);
    }
}

void Update::noteTaken (const netcalls::Acknowledgement& ack, juce::int64 sent)
{
    // Where the system cannot tell, what went out is all there is to show.
    const auto taken = ack.peer == netcalls::Acknowledgement::Peer::unknown ? sent : sent - ack.unacknowledged;
    bytesTaken = juce::jlimit ((juce::int64) 0, sent, taken);
}

int Update::waitUntilTaken (int handle, juce::int64 size)
{
    // The last sends only filled our own socket's buffer: the mixer may still
    // be short of up to that buffer and its own window. Only its TCP's
    // acknowledgement of every byte makes the transfer a success; a mixer that
    // fails before that has not got the file, whatever was handed over here.
    // Like a stalled peer mid-file, a peer that stops taking has no time limit;
    // a stop request ends the wait at once.
    for (;;)
    {
        const auto ack = netcalls::acknowledgement (handle, lengthFieldSize + size);

        if (ack.peer == netcalls::Acknowledgement::Peer::failed)
            return chunkSendFailed;

        noteTaken (ack, size);

        if (ack.peer == netcalls::Acknowledgement::Peer::unknown)
            return done;

        if (ack.unacknowledged == 0)
        {
            delivered = true;
            return done;
        }

        if (threadShouldExit())
            return done;

        wait (acknowledgementPollMs);
    }
}

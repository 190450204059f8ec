#include "net/TransferSession.h"

#include "net/Update.h"
#include "net/UpdateEnvironment.h"
#include "platform/RegularFileReader.h"

namespace
{
    // The mixer relies on a pause of at least this long after each chunk,
    // counted from the moment the send of the chunk returned.
    constexpr auto chunkPause = std::chrono::microseconds (1000);

    // How often the wait for the mixer's last acknowledgement looks again.
    constexpr auto acknowledgementPoll = std::chrono::milliseconds (5);

    // How long acknowledgement figures may contradict themselves before they are not believed.
    constexpr auto implausibleFor = std::chrono::seconds (1);

    constexpr int lengthFieldSize = 4;
    constexpr juce::int64 takenLookInterval = 32;
}

TransferSession::TransferSession (juce::StreamingSocket& connectionToUse, juce::File fileToSend, juce::int64 sizeWhenChecked)
    : connection (connectionToUse),
      file (std::move (fileToSend)),
      checkedSize (sizeWhenChecked)
{
}

TransferSession::~TransferSession() = default;

TransferSession::Next TransferSession::serve()
{
    switch (state)
    {
        case State::opening:                 return open();
        case State::sendingLength:           return sendLength();
        case State::sendingChunks:           return sendChunk();
        case State::awaitingAcknowledgement: return awaitAcknowledgement();
        case State::finished:                break;
    }

    return { Next::Kind::finished, {} };
}

void TransferSession::stop()
{
    if (state != State::finished)
        finish (Update::done);
}

double TransferSession::getSecondsWithoutTaking() const noexcept
{
    const auto since = lastTaken.load();
    return since == 0 ? 0.0 : std::chrono::duration<double> (Clock::now().time_since_epoch() - Clock::duration (since)).count();
}

TransferSession::Next TransferSession::finish (int finalStatus)
{
    lastTaken = 0;
    state = State::finished;
    reader.reset();
    status = finalStatus;
    return { Next::Kind::finished, {} };
}

TransferSession::Next TransferSession::open()
{
    // Opened before anything is sent, so a missing file leaves the stream untouched.
    reader = std::make_unique<RegularFileReader> (file);

    if (! reader->isOpen())
        return finish (Update::fileMissing);

    size = reader->getSize();

    if (size > UpdateEnvironment::maxUpdateFileSize)
        return finish (Update::sizeChanged);

    chunkBytes = reader->read (chunk, Update::chunkSize);

    // The connect phase may have waited for hours since the file was checked.
    // What goes out is checked again, on the handle it is sent from: a file
    // replaced by another or cut meanwhile is not the update file the user
    // confirmed, and "cannot find the update file" (S1) says that far better
    // than the bare send error of a changed size.
    if (chunkBytes < 0 || ! UpdateEnvironment::beginsWithModelPrefix (chunk, chunkBytes)
        || (checkedSize >= 0 && size != checkedSize))
        return finish (Update::fileMissing);

    handle = connection.getRawSocketHandle();

    if (! netcalls::setBlocking (handle, false))
        return finish (Update::lengthSendFailed);

    const auto length = (juce::uint32) size;
    prefix[0] = (char) (length >> 24);
    prefix[1] = (char) (length >> 16);
    prefix[2] = (char) (length >> 8);
    prefix[3] = (char) length;
    state = State::sendingLength;
    return sendLength();
}

TransferSession::Next TransferSession::sendLength()
{
    const auto n = netcalls::sendNow (handle, prefix + chunkOffset, (size_t) (lengthFieldSize - chunkOffset));

    if (n < 0)
        return finish (Update::lengthSendFailed);

    chunkOffset += (int) n;

    if (chunkOffset < lengthFieldSize)
        return { Next::Kind::whenRoom, {} };

    // The first chunk follows the length at once.
    chunkOffset = 0;
    totalBytes = size;
    lastTaken = Clock::now().time_since_epoch().count();
    due = Clock::now();
    state = State::sendingChunks;
    return sendChunk();
}

TransferSession::Next TransferSession::sendChunk()
{
    if (chunkOffset == 0)
    {
        if (Clock::now() < due)
            return { Next::Kind::pacedAt, due };

        // The peer counts on exactly the announced length: a file that has
        // grown or shrunk since is not sent on as if nothing had happened.
        if (chunkBytes < 0 || sent + chunkBytes > size || (chunkBytes < Update::chunkSize && sent + chunkBytes != size))
            return finish (Update::sizeChanged);
    }

    // An empty last chunk (a file of whole chunks) still makes its one send.
    const auto n = netcalls::sendNow (handle, chunk + chunkOffset, (size_t) (chunkBytes - chunkOffset));

    if (n < 0)
        return finish (Update::chunkSendFailed);

    chunkOffset += (int) n;

    if (chunkOffset < chunkBytes)
        return { Next::Kind::whenRoom, {} };

    // The pause counts from here; the bookkeeping and the next read happen
    // within it, off the paced path.
    due = Clock::now() + chunkPause;
    sentHash.update (chunk, (size_t) chunkBytes);
    sent += chunkBytes;
    bytesSent = sent;

    // What the mixer took is for the progress figures, which nobody reads
    // more often than every 50 ms: asked once per 32 chunks, it costs nothing
    // per mixer, however many are served.
    if ((sent / Update::chunkSize) % takenLookInterval == 0)
        noteTaken (netcalls::acknowledgement (handle, lengthFieldSize + sent));

    chunkOffset = 0;

    if (chunkBytes < Update::chunkSize)
    {
        state = State::awaitingAcknowledgement;
        return { Next::Kind::lookAt, due };
    }

    chunkBytes = reader->read (chunk, Update::chunkSize);
    return { Next::Kind::pacedAt, due };
}

void TransferSession::noteTaken (const netcalls::Acknowledgement& ack)
{
    // Where the system cannot tell, what went out is all there is to show.
    const auto taken = ack.peer == netcalls::Acknowledgement::Peer::unknown ? sent : sent - ack.unacknowledged;
    const auto limited = juce::jlimit ((juce::int64) 0, sent, taken);

    if (limited > bytesTaken.exchange (limited))
        lastTaken = Clock::now().time_since_epoch().count();
}

TransferSession::Next TransferSession::awaitAcknowledgement()
{
    // The last sends only filled our own socket's buffer: the mixer may still
    // be short of up to that buffer and its own window. Only its TCP's
    // acknowledgement of every byte makes the transfer a success; a mixer that
    // fails before that has not got the file, whatever was handed over here.
    // Like a stalled peer mid-file, a peer that stops taking has no time limit.
    const auto now = Clock::now();

    if (now < due)
        return { Next::Kind::lookAt, due };

    const auto ack = netcalls::acknowledgement (handle, lengthFieldSize + size);

    if (ack.peer == netcalls::Acknowledgement::Peer::failed)
        return finish (Update::chunkSendFailed);

    noteTaken (ack);

    // Figures that say nothing is in flight and the peer has room, yet bytes
    // are missing, are a queue about to go out; for over a second they are
    // figures that cannot be right (a system whose counters we misread), and
    // the transfer must not hang on them: then nothing tells, as on Wine.
    if (! ack.implausible)
        implausibleSince = {};
    else if (implausibleSince == Clock::time_point {})
        implausibleSince = now;

    if (ack.peer == netcalls::Acknowledgement::Peer::unknown
        || (ack.implausible && now - implausibleSince > implausibleFor))
        return finish (Update::done);

    if (ack.unacknowledged == 0)
    {
        delivered = true;
        return finish (Update::done);
    }

    return { Next::Kind::lookAt, now + acknowledgementPoll };
}

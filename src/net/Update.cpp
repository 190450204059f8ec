#include "net/Update.h"
#include "net/CallOnExit.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#if defined (_WIN32)
 #include <winsock2.h>
 #include <windows.h>
#else
 #include <sys/prctl.h>
 #include <sys/socket.h>
#endif

#include "net/UpdateEnvironment.h"
#include "net/UpdateFileReader.h"

namespace
{
   #if defined (_WIN32)
    // Windows raises no SIGPIPE; a reset peer is a plain send error.
    constexpr int MSG_NOSIGNAL = 0;
    constexpr int SHUT_RDWR = SD_BOTH;

    #ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
     #define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
    #endif

    // Sleep(1) lasts a whole scheduler tick (up to 15.6 ms) unless someone
    // has raised the system timer resolution, which Windows 10 2004 and later
    // may also ignore for us. A high-resolution waitable timer keeps the sleep
    // near what was asked either way; older systems without one get a plain
    // timer and the spin afterwards holds the pause to 1 ms.
    class PauseTimer
    {
    public:
        PauseTimer() noexcept
        {
            handle = ::CreateWaitableTimerExW (nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);

            if (handle == nullptr)
                handle = ::CreateWaitableTimerExW (nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }

        ~PauseTimer()
        {
            if (handle != nullptr)
                ::CloseHandle (handle);
        }

        void sleep (std::chrono::nanoseconds duration) noexcept
        {
            LARGE_INTEGER due;
            due.QuadPart = -(LONGLONG) (duration.count() / 100); // relative, in 100 ns units

            if (handle != nullptr && ::SetWaitableTimer (handle, &due, 0, nullptr, nullptr, FALSE))
                ::WaitForSingleObject (handle, longestWaitMs);
        }

    private:
        // Even a coarse timer fires within one tick; the bound only guards against a timer that never fires.
        static constexpr DWORD longestWaitMs = 50;
        HANDLE handle = nullptr;
    };

    void sleepFor (std::chrono::nanoseconds duration) noexcept
    {
        thread_local PauseTimer timer;
        timer.sleep (duration);
    }
   #endif

    using Clock = std::chrono::steady_clock;

    // The pause after a chunk must never be shorter than 1 ms, and every bit it
    // runs over adds up over a few thousand chunks. So most of it is slept and
    // the rest spun on the monotonic clock.
    constexpr auto chunkPause = std::chrono::microseconds (1000);
    constexpr auto sleptPart = std::chrono::microseconds (900);

    // How long a stop waits for the thread before it cuts off a send that the
    // peer does not take.
    constexpr int stopGraceMilliseconds = 100;

    // The whole buffer goes out or the send fails: a partial send is continued,
    // and MSG_NOSIGNAL turns a vanished peer into an error instead of SIGPIPE.
    // An empty chunk is still handed to send, which puts nothing on the wire.
    bool sendAll (int handle, const char* data, size_t size) noexcept
    {
        do
        {
            const auto n = ::send (handle, data, size, MSG_NOSIGNAL);

            if (n < 0)
            {
                if (errno == EINTR)
                    continue;

                return false;
            }

            data += n;
            size -= (size_t) n;
        }
        while (size > 0);

        return true;
    }
}

Update::Update (juce::StreamingSocket& connectionToUse, juce::File fileToSend)
    : juce::Thread ("QVR7000_UPDATE"),
      connection (connectionToUse),
      updateFile (std::move (fileToSend))
{
}

Update::~Update()
{
    signalThreadShouldExit();
    notify();

    if (! waitForThreadToExit (stopGraceMilliseconds))
        ::shutdown (connection.getRawSocketHandle(), SHUT_RDWR);

    stopThread (-1);
}

void Update::pauseAfterChunk (std::chrono::steady_clock::time_point sentAt)
{
    const auto sleepUntil = sentAt + sleptPart;
    const auto pauseEnd = sentAt + chunkPause;
    const auto now = Clock::now();

    if (now < sleepUntil)
    {
       #if defined (_WIN32)
        sleepFor (std::chrono::duration_cast<std::chrono::nanoseconds> (sleepUntil - now));
       #else
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds> (sleepUntil - now).count();
        timespec interval { 0, (long) ns };
        ::nanosleep (&interval, nullptr);
       #endif
    }

    while (Clock::now() < pauseEnd && ! threadShouldExit())
    {
    }
}

void Update::run()
{
    const CallOnExit finished { onFinished };

    // With the default 50 µs of timer slack every sleep overshoots.
   #if ! defined (_WIN32)
    ::prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
   #endif

    // Opened before anything is sent, so a missing file leaves the stream untouched.
    UpdateFileReader reader (updateFile == juce::File() ? UpdateEnvironment::getUpdateFile() : updateFile);

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

    const auto handle = connection.getRawSocketHandle();
    const auto length = (juce::uint32) size;
    const char prefix[4] = { (char) (length >> 24), (char) (length >> 16), (char) (length >> 8), (char) length };

    if (! sendAll (handle, prefix, sizeof (prefix)))
    {
        status = threadShouldExit() ? done : lengthSendFailed;
        return;
    }

    totalBytes = size;

    char chunk[chunkSize];
    juce::int64 sent = 0;

    for (;;)
    {
        if (threadShouldExit())
        {
            status = done;
            return;
        }

        const auto n = reader.read (chunk, chunkSize);

        // The peer counts on exactly the announced length: a file that has
        // grown or shrunk since is not sent on as if nothing had happened.
        if (n < 0 || sent + n > size || (n < chunkSize && sent + n != size))
        {
            status = sizeChanged;
            return;
        }

        if (! sendAll (handle, chunk, (size_t) n))
        {
            status = threadShouldExit() ? done : chunkSendFailed;
            return;
        }

        sent += n;
        bytesSent = sent;

        pauseAfterChunk (Clock::now());

        if (n < chunkSize)
            break;
    }

    status = done;
}

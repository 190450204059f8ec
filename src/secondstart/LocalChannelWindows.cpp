#include "secondstart/LocalChannel.h"

#include <string>
#include <vector>

#include "platform/WindowsSystem.h"

#include <sddl.h>

// The channel on Windows: a named pipe per user, one message each way. The
// pipe's default security lets only its owner (and administrators) write to
// it, so another user's request never arrives; remote clients are refused.

namespace
{
    // The thread is woken by stop() at once; this only bounds each wait.
    constexpr DWORD waitSliceMilliseconds = 1000;

    // A peer gets this long for its request, and for taking the answer.
    constexpr DWORD peerMilliseconds = 500;

    std::wstring pipePath (const std::string& name)
    {
        // Our names are ASCII (the application's and a SID), so byte for character.
        return L"\\\\.\\pipe\\" + std::wstring (name.begin(), name.end());
    }

    struct Event
    {
        Event() : handle (::CreateEventW (nullptr, TRUE, FALSE, nullptr)) {}
        ~Event() { if (handle != nullptr) ::CloseHandle (handle); }
        Event (const Event&) = delete;
        Event& operator= (const Event&) = delete;

        HANDLE handle;
    };

    /** One overlapped read or write on the pipe: true once it completed whole
        within milliseconds and before stop was set; anything else is cancelled.
    */
    template <typename Call>
    bool transfer (HANDLE pipe, HANDLE io, DWORD milliseconds, HANDLE stop, DWORD& transferred, Call&& call)
    {
        OVERLAPPED o {};
        o.hEvent = io;
        ::ResetEvent (io);
        transferred = 0;

        const bool underway = call (&o) || ::GetLastError() == ERROR_IO_PENDING;
        const HANDLE events[] = { io, stop };

        // A message longer than the buffer ends with ERROR_MORE_DATA: refused as a whole.
        if (underway && ::WaitForMultipleObjects (stop != nullptr ? 2 : 1, events, FALSE, milliseconds) == WAIT_OBJECT_0)
            return ::GetOverlappedResult (pipe, &o, &transferred, FALSE) != 0;

        if (underway)
        {
            ::CancelIoEx (pipe, &o);
            ::GetOverlappedResult (pipe, &o, &transferred, TRUE);
        }

        return false;
    }
}

bool LocalChannel::start()
{
    if (listenHandle != (juce::pointer_sized_int) INVALID_HANDLE_VALUE)
        return true;

    // The first instance only: a pipe of that name made by anyone else refuses us.
    const auto pipe = ::CreateNamedPipeW (pipePath (name).c_str(),
                                          PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                          1, (DWORD) maxAnswerBytes, (DWORD) maxRequestBytes, 0, nullptr);

    if (pipe == INVALID_HANDLE_VALUE)
        return false;

    const auto wake = ::CreateEventW (nullptr, TRUE, FALSE, nullptr);

    if (wake == nullptr)
    {
        ::CloseHandle (pipe);
        return false;
    }

    listenHandle = (juce::pointer_sized_int) pipe;
    wakeHandle = (juce::pointer_sized_int) wake;

    if (! startThread())
    {
        ::CloseHandle (pipe);
        ::CloseHandle (wake);
        listenHandle = (juce::pointer_sized_int) INVALID_HANDLE_VALUE;
        wakeHandle = 0;
        return false;
    }

    return true;
}

void LocalChannel::stop()
{
    if (listenHandle == (juce::pointer_sized_int) INVALID_HANDLE_VALUE)
        return;

    signalThreadShouldExit();
    ::SetEvent ((HANDLE) wakeHandle);
    stopThread (-1);
    ::CloseHandle ((HANDLE) listenHandle);
    ::CloseHandle ((HANDLE) wakeHandle);
    listenHandle = (juce::pointer_sized_int) INVALID_HANDLE_VALUE;
    wakeHandle = 0;
}

std::string LocalChannel::nameFor (const juce::String& applicationName)
{
    // Per user: the user's SID, as the system spells it.
    std::string user = "unknown";
    HANDLE token = nullptr;

    if (::OpenProcessToken (::GetCurrentProcess(), TOKEN_QUERY, &token))
    {
        DWORD size = 0;
        ::GetTokenInformation (token, TokenUser, nullptr, 0, &size);
        std::vector<char> info (size);
        LPWSTR text = nullptr;

        if (size > 0 && ::GetTokenInformation (token, TokenUser, info.data(), size, &size)
            && ::ConvertSidToStringSidW (reinterpret_cast<TOKEN_USER*> (info.data())->User.Sid, &text))
        {
            user.clear();

            for (auto* c = text; *c != 0; ++c)
                user += *c < 128 ? (char) *c : '_';

            ::LocalFree (text);
        }

        ::CloseHandle (token);
    }

    return applicationName.toStdString() + ".raise." + user;
}

bool LocalChannel::exchange (const std::string& channelName, const std::string& request,
                             int timeoutMs, std::string& answer)
{
    answer.clear();
    const auto path = pipePath (channelName);
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, timeoutMs);
    HANDLE pipe = INVALID_HANDLE_VALUE;

    for (;;)
    {
        // Identification only: the running copy may look at who asks, not act as us.
        pipe = ::CreateFileW (path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);

        if (pipe != INVALID_HANDLE_VALUE)
            break;

        // Busy with another start's request: wait for it, within our own time.
        const auto now = juce::Time::getMillisecondCounter();

        if (::GetLastError() != ERROR_PIPE_BUSY || now >= end)
            return false;

        ::WaitNamedPipeW (path.c_str(), end - now);
    }

    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState (pipe, &mode, nullptr, nullptr);

    const Event io;
    const auto remaining = [end]
    {
        const auto now = juce::Time::getMillisecondCounter();
        return (DWORD) (now < end ? end - now : 0);
    };

    DWORD n = 0;
    const bool sent = io.handle != nullptr
                      && transfer (pipe, io.handle, remaining(), nullptr, n, [&] (OVERLAPPED* o)
                             { return ::WriteFile (pipe, request.data(), (DWORD) request.size(), nullptr, o); })
                      && n == (DWORD) request.size();

    if (sent)
    {
        char buffer[maxAnswerBytes + 1];

        if (transfer (pipe, io.handle, remaining(), nullptr, n, [&] (OVERLAPPED* o)
                      { return ::ReadFile (pipe, buffer, sizeof (buffer), nullptr, o); })
            && n <= maxAnswerBytes)
            answer.assign (buffer, n);
    }

    ::CloseHandle (pipe);
    return true;
}

void LocalChannel::run()
{
    const std::function<bool()> stopping = [this] { return threadShouldExit(); };
    const auto pipe = (HANDLE) listenHandle;
    const auto wake = (HANDLE) wakeHandle;
    const Event io;

    if (io.handle == nullptr)
        return;

    while (! threadShouldExit())
    {
        OVERLAPPED o {};
        o.hEvent = io.handle;
        ::ResetEvent (io.handle);

        bool connected = ::ConnectNamedPipe (pipe, &o) != 0 || ::GetLastError() == ERROR_PIPE_CONNECTED;

        if (! connected && ::GetLastError() == ERROR_IO_PENDING)
        {
            const HANDLE events[] = { io.handle, wake };
            auto woken = (DWORD) WAIT_TIMEOUT;

            while (woken == WAIT_TIMEOUT && ! threadShouldExit())
                woken = ::WaitForMultipleObjects (2, events, FALSE, waitSliceMilliseconds);

            DWORD ignored = 0;

            if (woken != WAIT_OBJECT_0)
            {
                ::CancelIoEx (pipe, &o);
                ::GetOverlappedResult (pipe, &o, &ignored, TRUE);
                break;
            }

            connected = ::GetOverlappedResult (pipe, &o, &ignored, FALSE) != 0;
        }

        if (connected)
        {
            char request[maxRequestBytes + 1];
            DWORD n = 0;

            if (transfer (pipe, io.handle, peerMilliseconds, wake, n, [&] (OVERLAPPED* r)
                          { return ::ReadFile (pipe, request, sizeof (request), nullptr, r); })
                && n <= maxRequestBytes)
            {
                const auto answer = answerer (std::string (request, n), stopping);

                if (! answer.empty()
                    && transfer (pipe, io.handle, peerMilliseconds, wake, n, [&] (OVERLAPPED* w)
                                 { return ::WriteFile (pipe, answer.data(), (DWORD) answer.size(), nullptr, w); }))
                {
                    // Disconnecting drops what the peer has not read yet: wait
                    // (bounded) for it to hang up, which ends this read.
                    char ignored;
                    transfer (pipe, io.handle, peerMilliseconds, wake, n, [&] (OVERLAPPED* r)
                              { return ::ReadFile (pipe, &ignored, 1, nullptr, r); });
                }
            }
        }
        else if (! threadShouldExit())
        {
            // A peer that came and went before we looked: no busy loop on it.
            wait (50);
        }

        ::DisconnectNamedPipe (pipe);
    }
}

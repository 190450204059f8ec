// Cancel latency of the whole tool minus its window: the main screen with the real
// mixer link on loopback (an injected 127.0.0.2/8 interface, free ports). Times
// the user's Cancel from the click's callback until it returns, by which point the
// announcer, the listener or the transfer thread are gone and the cancel box has
// been asked for; then checks that this is really so. Prints one JSON line.
//
//     qvr_cancel_bench [--runs N]        (needs a display: run under xvfb-run)

#include <thread>

#include <sys/socket.h>

#include "app/MainComponent.h"
#include "net/MixerLink.h"
#include "support/MessageLoop.h"

namespace
{
    using Clock = std::chrono::steady_clock;

    enum class Scene { connecting, sending, stalledPeer };

    struct Outcome
    {
        double ms = -1.0;
        bool boxShown = false, portClosed = false, silent = false;
    };

    /** Whether a datagram arrives within timeoutMs; reads it, if so. */
    bool heardWithin (juce::DatagramSocket& socket, int timeoutMs)
    {
        char buffer[64];
        return socket.waitUntilReady (true, timeoutMs) == 1 && socket.read (buffer, sizeof (buffer), false) >= 0;
    }

    bool refusesConnections (int port)
    {
        juce::StreamingSocket late;
        return ! late.connect ("127.0.0.1", port, 1000);
    }

    Outcome cancelOnce (Scene scene, const juce::File& file)
    {
        // The mixer's side of the announcements: 0.0.0.0 hears 127.255.255.255.
        juce::DatagramSocket announcements;
        announcements.bindToPort (0);
        std::atomic<int> listenerPort { 0 };

        MixerLink::Settings settings;
        settings.updateFile = file;
        settings.interfaces = [] (std::vector<Ipv4Interface>& out)
        {
            out = { { 0x7f000002u, 0xff000000u } };   // 127.0.0.2/8
            return InterfaceQueryResult::ok;
        };
        settings.listenerPort = 0;
        settings.announcePort = announcements.getBoundPort();
        settings.onListening = [&listenerPort] (const Listener& l) { listenerPort = l.getPort(); };

        Outcome outcome;
        Clock::time_point boxAt;
        MainComponent::Services services;
        services.steps = std::make_unique<MixerLink> (settings);
        services.showMessageBox = [&] (const juce::String&, const juce::String&, std::function<void()>)
        {
            boxAt = Clock::now();
            outcome.boxShown = true;
        };
        services.quit = [] {};

        juce::StreamingSocket peer;
        std::atomic<bool> reading { true };
        std::thread reader;

        {
            MainComponent screen (std::move (services));
            screen.advancePhase();   // language
            screen.advancePhase();   // initialise
            if (! pumpUntil ([&] { return screen.getPhase() == MainComponent::confirming; }, 5000))
                return outcome;

            screen.advancePhase();   // START
            if (! heardWithin (announcements, 3000))
                return outcome;

            if (scene != Scene::connecting)
            {
                if (! peer.connect ("127.0.0.1", listenerPort, 3000))
                    return outcome;

                // A small receive buffer: a peer that stops reading stalls the sender soon.
                if (const int small = 4096; scene == Scene::stalledPeer)
                    ::setsockopt (peer.getRawSocketHandle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof (small));

                if (scene == Scene::sending)
                    reader = std::thread ([&]
                    {
                        char sink[65536];
                        while (reading)
                            if (peer.waitUntilReady (true, 20) == 1 && peer.read (sink, sizeof (sink), false) <= 0)
                                return;
                    });

                if (! pumpUntil ([&] { return screen.getPhase() == MainComponent::sending; }, 5000))
                    return outcome;

                // Well into the transfer; a stalled peer's buffers are full by then.
                pumpUntil ([] { return false; }, 400);
            }

            while (heardWithin (announcements, 0)) {}

            const auto clicked = Clock::now();
            screen.abortWorkflow();
            outcome.ms = std::chrono::duration<double, std::milli> (boxAt - clicked).count();
            outcome.portClosed = refusesConnections (listenerPort);
            outcome.silent = ! heardWithin (announcements, 250);
        }

        reading = false;
        if (reader.joinable())
            reader.join();

        return outcome;
    }
} // namespace

int main (int argc, char** argv)
{
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (juce::String (argv[i]) == "--runs")
            runs = juce::String (argv[i + 1]).getIntValue();

    juce::ScopedJuceInitialiser_GUI gui;
    const juce::TemporaryFile scratch (".upd");
    const auto file = scratch.getFile();
    juce::MemoryBlock image (16 * 1024 * 1024, true);
    image.copyFrom ("QVR-7000", 0, 8);
    file.replaceWithData (image.getData(), image.getSize());

    juce::String json = "{";
    bool allGood = true;

    for (auto [scene, name] : { std::pair { Scene::connecting, "connecting" },
                                std::pair { Scene::sending, "sending" },
                                std::pair { Scene::stalledPeer, "stalled_peer" } })
    {
        juce::StringArray times;

        for (int run = 0; run < runs; ++run)
        {
            const auto o = cancelOnce (scene, file);
            allGood = allGood && o.boxShown && o.portClosed && o.silent && o.ms >= 0.0;
            times.add (juce::String (o.ms, 3));
        }

        json << "\"" << name << "_ms\": [" << times.joinIntoString (", ") << "], ";
    }

    json << "\"checks_passed\": " << (allGood ? "true" : "false") << "}";
    std::printf ("%s\n", json.toRawUTF8());
    return allGood ? 0 : 1;
}

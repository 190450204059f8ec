// Cancel latency of the whole tool minus its window: the main screen with the real
// mixer link on loopback (an injected 127.0.0.2/8 interface, free ports). Times
// the user's Cancel from the click's callback until it returns, by which point the
// announcer, the listener or the transfer thread are gone and the cancel box has
// been asked for; then checks that this is really so. Prints one JSON line.
//
//     qvr_cancel_bench [--runs N]        (needs a display: run under xvfb-run)

#include <thread>

#include "NetTestSupport.h"
#include "support/MessageLoop.h"
#include "app/MainComponent.h"
#include "net/MixerLink.h"

using namespace nettest;

namespace
{
    enum class Scene { connecting, sending, stalledPeer };

    struct Outcome
    {
        double ms = -1.0;
        bool boxShown = false, portClosed = false, silent = false;
    };

    Outcome cancelOnce (Scene scene, const juce::File& file)
    {
        AnnouncementReceiver receiver;
        MixerLink::Settings settings;
        settings.updateFile = file;
        settings.interfaces = fixedInterfaces ({ { ipv4 (127, 0, 0, 2), ipv4 (255, 0, 0, 0) } });
        settings.listenerPort = freeTcpPort();
        settings.announcePort = receiver.port;

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

        Peer peer;
        std::atomic<bool> reading { true };
        std::thread reader;

        {
            MainComponent screen (std::move (services));
            screen.advancePhase();   // language
            screen.advancePhase();   // initialise
            if (! pumpUntil ([&] { return screen.getPhase() == MainComponent::confirming; }, 5000))
                return outcome;

            screen.advancePhase();   // START
            if (receiver.listen (0, 3000).empty())
                return outcome;

            if (scene != Scene::connecting)
            {
                if (! peer.connect (settings.listenerPort, scene == Scene::stalledPeer ? 4096 : 0))
                    return outcome;

                if (scene == Scene::sending)
                    reader = std::thread ([&] { std::string sink; while (reading) { sink.clear(); peer.read (sink, 1 << 16, 20); } });

                if (! pumpUntil ([&] { return screen.getPhase() == MainComponent::sending; }, 5000))
                    return outcome;

                // Well into the transfer; a stalled peer's buffers are full by then.
                pumpUntil ([] { return false; }, 400);
            }

            receiver.drain();
            const auto clicked = Clock::now();
            screen.abortWorkflow();
            outcome.ms = std::chrono::duration<double, std::milli> (boxAt - clicked).count();

            Peer late;
            outcome.portClosed = ! late.connect (settings.listenerPort);
            outcome.silent = receiver.listen (0, 250).empty();
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
    ScratchFolder scratch;
    const auto file = scratch.write ("fw.upd", updateImage (16 * 1024 * 1024));

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

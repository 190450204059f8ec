#include "app/RepaintPump.h"

#if defined (_WIN32)

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

namespace
{
    class RepaintPump final : private juce::Timer
    {
    public:
        RepaintPump() { startTimerHz (60); }
        ~RepaintPump() override { stopTimer(); }

    private:
        void timerCallback() override
        {
            // A peer may go while we walk the list (a flush can dispatch messages).
            for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
                if (i < juce::ComponentPeer::getNumPeers())
                    if (auto* peer = juce::ComponentPeer::getPeer (i))
                        peer->performAnyPendingRepaintsNow();
        }
    };

    std::unique_ptr<RepaintPump>& pump()
    {
        static std::unique_ptr<RepaintPump> instance;
        return instance;
    }
}

void keepRepaintingWithoutVerticalBlank()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (pump() == nullptr)
        pump() = std::make_unique<RepaintPump>();
}

void stopRepaintingWithoutVerticalBlank()
{
    pump().reset();
}

#else

void keepRepaintingWithoutVerticalBlank() {}
void stopRepaintingWithoutVerticalBlank() {}

#endif

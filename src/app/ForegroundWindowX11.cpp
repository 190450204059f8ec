#include "app/ForegroundWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>

void allowOtherProcessesToRaiseOurWindow()
{
    // X11 window managers decide about raising by themselves.
}

void raiseAboveOtherWindows (juce::Component& window)
{
    auto* peer = window.getPeer();

    if (peer == nullptr)
        return;

    // A connection of our own: JUCE keeps its display to itself. Under a window
    // manager the request goes to the manager, which may follow it or not.
    if (auto* display = ::XOpenDisplay (nullptr))
    {
        ::XRaiseWindow (display, (::Window) reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle()));
        ::XCloseDisplay (display);
    }
}

#include "platform/ForegroundWindow.h"

#if defined (_WIN32)
 #include "platform/WindowsSystem.h"

void allowOtherProcessesToRaiseOurWindow()
{
    // Fails harmlessly when we are not the foreground process ourselves; the
    // second start then simply does not come to the front.
    ::AllowSetForegroundWindow (ASFW_ANY);
}

void raiseAboveOtherWindows (juce::Component&)
{
}

#else

// X11 window managers decide about raising by themselves. The raise itself
// needs X11 and lives with the screen (ForegroundWindowX11.cpp), outside the
// window-free core.
void allowOtherProcessesToRaiseOurWindow()
{
}

#endif

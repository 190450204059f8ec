#include "app/ForegroundWindow.h"

#include "platform/WindowsSystem.h"

void allowOtherProcessesToRaiseOurWindow()
{
    // Fails harmlessly when we are not the foreground process ourselves; the
    // second start then simply does not come to the front.
    ::AllowSetForegroundWindow (ASFW_ANY);
}

void raiseAboveOtherWindows (juce::Component&)
{
    // toFront already raises it.
}

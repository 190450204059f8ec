#pragma once

namespace juce { class Component; }

/** Lets any other process bring a window of ours to the front.

    A second start of the tool hands over to the running one, which then raises
    its window; Windows grants that only when the foreground may be passed on
    to us. Does nothing where the system has no such restriction.
*/
void allowOtherProcessesToRaiseOurWindow();

/** Puts a shown top-level window above all others after its toFront(), also
    where no window manager runs: JUCE's toFront on X11 only asks a window
    manager to activate the window. Does nothing on Windows, where toFront
    already raises it.
*/
void raiseAboveOtherWindows (juce::Component& window);

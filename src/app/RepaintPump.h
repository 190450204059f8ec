#pragma once

/** Keeps window contents updating where the display gives no vertical blank.

    On Windows, JUCE 7 sends a window's pending repaints to the system only
    from a thread that waits for the display's vertical blank through DXGI.
    Where that wait is not available (no DXGI output for the monitor: remote
    sessions, some virtual machines, Wine) nothing is ever redrawn after the
    first frame. This starts a message-thread timer that flushes pending
    repaints at about the display rate; the usual path keeps working beside it.

    Call on the message thread once the application runs; again does nothing.
    Does nothing on other systems, whose repaints do not depend on it.
*/
void keepRepaintingWithoutVerticalBlank();

/** Ends the timer (before the message loop goes away); harmless when none runs. */
void stopRepaintingWithoutVerticalBlank();

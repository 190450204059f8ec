#pragma once

/** Lets any other process bring a window of ours to the front.

    A second start of the tool hands over to the running one, which then raises
    its window; Windows grants that only when the foreground may be passed on
    to us. Does nothing where the system has no such restriction.
*/
void allowOtherProcessesToRaiseOurWindow();

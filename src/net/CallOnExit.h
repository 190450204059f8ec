#pragma once

#include <functional>

/** Calls a thread's finished-callback when its run() returns by any path, after
    the last status has been stored.
*/
struct CallOnExit
{
    std::function<void()>& callback;

    ~CallOnExit()
    {
        if (callback)
            callback();
    }
};

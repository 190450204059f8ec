#pragma once

/** qvr-update's exit statuses, which scripts act on: they never change. */
namespace exitstatus
{
    enum
    {
        sent = 0,               // and the mixer took every byte
        usageError = 2,
        checksFailed = 3,       // the window's I codes
        connectFailed = 4,      // C codes
        noMixerInTime = 5,
        sendFailed = 6,         // S codes
        somethingBlocks = 7,    // --check found what will keep the mixer from connecting
        interrupted = 130
    };
}

#include "secondstart/LocalChannel.h"

// What both systems' channels share; each opens, serves and closes its own
// kind of channel (LocalChannelPosix.cpp, LocalChannelWindows.cpp), with
// listenHandle at -1 (INVALID_HANDLE_VALUE on Windows) while none is open.

LocalChannel::LocalChannel (std::string channelName, Answerer answerFor)
    : juce::Thread ("QVR7000_RAISE"),
      name (std::move (channelName)),
      answerer (std::move (answerFor))
{
}

LocalChannel::~LocalChannel()
{
    stop();
}

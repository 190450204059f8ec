#include "net/Update.h"
#include "net/CallOnExit.h"

#include "net/Pacer.h"
#include "net/UpdateEnvironment.h"

Update::Update (juce::StreamingSocket& connection, juce::File fileToSend, juce::int64 checkedSize)
    : juce::Thread ("QVR7000_UPDATE"),
      session (std::make_unique<TransferSession> (connection,
                                                  fileToSend == juce::File() ? UpdateEnvironment::getUpdateFile() : fileToSend,
                                                  checkedSize))
{
}

Update::~Update()
{
    // Every wait of the transfer looks at the exit flag at least every 50 ms,
    // also while the mixer has stopped reading.
    stopThread (-1);
}

void Update::run()
{
    const CallOnExit finished { onFinished };
    Pacer::serve ({ session }, *this, {});
}

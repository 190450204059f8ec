#include <atomic>
#include <csignal>

#include "cli/ConsoleUpdater.h"
#include "platform/Console.h"

namespace
{
    // Lock-free, so a signal handler may set it.
    std::atomic<bool> interruptRequested { false };

    extern "C" void requestInterrupt (int)
    {
        interruptRequested = true;
    }
}

int main (int argc, char** argv)
{
    std::signal (SIGINT, requestInterrupt);
    std::signal (SIGTERM, requestInterrupt);

    ConsoleUpdater updater (CommandLineOptions::parse (console::arguments (argc, argv)));
    return updater.run (interruptRequested);
}

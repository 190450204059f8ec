#include <atomic>

#include "cli/ConsoleUpdater.h"
#include "platform/Console.h"
#include "platform/SystemText.h"

int main (int argc, char** argv)
{
    static std::atomic<bool> interruptRequested { false };
    console::setUp (interruptRequested);

    // FILE is resolved against the working directory here, before the process
    // may have to leave it.
    ConsoleUpdater updater (CommandLineOptions::parse (console::arguments (argc, argv)));
    systemtext::makeProcessTextSafe();
    return updater.run (interruptRequested);
}

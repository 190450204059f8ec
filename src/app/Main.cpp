#include "app/Application.h"

#if defined (_WIN32)
START_JUCE_APPLICATION (Application)
#else
 #include <string>
 #include <vector>

 #include "platform/SystemText.h"

namespace
{
    juce::JUCEApplicationBase* createApplication()
    {
        return new Application();
    }
}

// JUCE decodes the arguments, some environment variables and the working
// directory's name as UTF-8 without checking them, and corrupts its heap on
// anything else (a folder unpacked from a Windows zip): it only sees them safe.
int main (int argc, char* argv[])
{
    systemtext::makeProcessTextSafe();

    std::vector<std::string> arguments;

    for (int i = 0; i < argc; ++i)
        arguments.push_back (systemtext::fromBytes (argv[i]).toStdString());

    std::vector<const char*> pointers;

    for (auto& a : arguments)
        pointers.push_back (a.c_str());

    pointers.push_back (nullptr);

    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, pointers.data());
}
#endif

#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/auxv.h>
#include <unistd.h>

extern char** environ;

namespace systemtext
{
namespace
{
    // getcwd() or readlink() into a buffer that grows until the name fits.
    template <typename Ask>
    std::string askForName (Ask ask)
    {
        for (size_t size = 1024; size <= 1024 * 1024; size *= 4)
        {
            std::vector<char> buffer (size);
            const auto length = ask (buffer.data(), size - 1);

            if (length < 0)
                return {};

            if ((size_t) length < size - 1)
                return std::string (buffer.data(), (size_t) length);
        }

        return {};
    }

    std::string workingDirectoryBytes()
    {
        return askForName ([] (char* buffer, size_t size) -> long
                           { return ::getcwd (buffer, size) != nullptr ? (long) std::strlen (buffer) : (errno == ERANGE ? (long) size : -1L); });
    }
}

juce::File executableFile()
{
    // JUCE asks dladdr(), which gives argv[0]: relative, or anything the caller chose.
    const auto path = askForName ([] (char* buffer, size_t size) { return (long) ::readlink ("/proc/self/exe", buffer, size); });

    if (! path.empty())
        return juce::File (fromBytes (path.c_str()));

    return workingDirectory().getChildFile (fromBytes (reinterpret_cast<const char*> (::getauxval (AT_EXECFN))));
}

juce::File workingDirectory()
{
    const auto path = workingDirectoryBytes();
    return path.empty() ? juce::File() : juce::File (fromBytes (path.c_str()));
}

void makeProcessTextSafe()
{
    std::vector<std::pair<std::string, std::string>> rewrites;

    for (auto** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        if (const auto* equals = std::strchr (*entry, '='); equals != nullptr && ! isWellFormed (equals + 1))
            rewrites.emplace_back (std::string (*entry, (size_t) (equals - *entry)), fromBytes (equals + 1).toStdString());

    for (auto& [name, value] : rewrites)
        ::setenv (name.c_str(), value.c_str(), 1);

    // Our own names were resolved against it already; JUCE's child processes
    // do not care where they start.
    if (! isWellFormed (workingDirectoryBytes().c_str()))
        std::ignore = ::chdir ("/");
}
} // namespace systemtext

#include "appearance/Typefaces.h"

namespace
{
juce::String& defaultSansSerifName()
{
    static juce::String name;
    return name;
}

#if JUCE_LINUX || JUCE_BSD
struct Substitute
{
    const char* requested;
    std::initializer_list<const char*> candidates;
};

// Metric-compatible or same-script fonts from the distribution's packages, best first.
const Substitute substitutes[] = {
    { "Arial", { "Liberation Sans", "Arimo", "DejaVu Sans" } },
    { "MS UI Gothic", { "IPAGothic", "IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", "VL Gothic" } },
    { "Osaka-Mono", { "IPAGothic", "IPAexGothic", "Noto Sans Mono CJK JP", "VL Gothic" } },
};

const juce::StringArray& installedTypefaces()
{
    // Scanning the font folders takes tens of milliseconds; the set does not change while we run.
    static const juce::StringArray names = juce::Font::findAllTypefaceNames();
    return names;
}
#endif
} // namespace

juce::String resolveTypefaceName (const juce::String& requested)
{
#if JUCE_LINUX || JUCE_BSD
    const auto& installed = installedTypefaces();

    if (requested.isEmpty() || installed.contains (requested))
        return requested;

    for (const auto& substitute : substitutes)
        if (requested.equalsIgnoreCase (substitute.requested))
            for (auto* candidate : substitute.candidates)
                if (installed.contains (candidate))
                    return candidate;
#endif
    return requested;
}

juce::String getDefaultSansSerifName()
{
    return defaultSansSerifName();
}

void setDefaultSansSerifName (const juce::String& name)
{
    if (defaultSansSerifName() == name)
        return;

    defaultSansSerifName() = name;

    // The typeface cache is keyed by the placeholder name, so it still holds the old face.
    juce::Typeface::clearTypefaceCache();
}

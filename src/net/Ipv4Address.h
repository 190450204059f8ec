#pragma once

#include <cstdint>

#include <juce_core/juce_core.h>

/** Reading IPv4 addresses as people and the system write them. (For the other
    way, juce::IPAddress (address).toString().)
*/
namespace ipv4
{
    /** Four numbers of 0..255, without leading zeros, joined by dots: true and
        the address in host byte order; false for anything else.
    */
    bool parse (const juce::String& dotted, std::uint32_t& address);
}

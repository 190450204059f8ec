#pragma once

#include <cstddef>
#include <cstdint>

/** Entry points shared by the libFuzzer build and the bounded random-input test. */
int fuzzTextBlock (const std::uint8_t* data, std::size_t size);
int fuzzBmp (const std::uint8_t* data, std::size_t size);

#pragma once

// What every fuzz target uses: the check that stops a run when a property
// does not hold. Each target defines LLVMFuzzerTestOneInput; libFuzzer calls
// it in the fuzz build, and replay_main.cpp feeds it the seed corpus in every
// other build. json_checks.h adds the checks of the JSON readers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace fuzz {

// Stops the run when a property does not hold: names it on standard error
// and traps, so that libFuzzer keeps the input and a replay fails.
inline void require(bool holds, char const* property)
{
    if (holds) [[likely]]
        return;
    std::fprintf(stderr, "property failed: %s\n", property);
    std::fflush(stderr);
    __builtin_trap();
}

inline std::string_view text_of(std::uint8_t const* data, std::size_t size)
{
    return { reinterpret_cast<char const*>(data), size };
}

} // namespace fuzz

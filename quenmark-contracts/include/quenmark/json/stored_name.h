#pragma once

// Enumerations stored as JSON strings: each enumeration's namespace declares
// stored_names(E) returning its stored names in the order of its values, and
// stored_name gives the name of one value (the binding reads and writes
// enumerations through the same list).

#include <cstddef>
#include <string_view>

namespace quenmark {

template<typename E>
    requires requires(E value) { stored_names(value); }
constexpr std::string_view stored_name(E value)
{
    return stored_names(value)[static_cast<std::size_t>(value)];
}

} // namespace quenmark

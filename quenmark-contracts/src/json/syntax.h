#pragma once

// Private to the platform library: the JSON syntax scanner, which words the
// reader's syntax errors. simdjson reports most of them without a position
// or with a coarse reason, so once reading has failed the scanner walks the
// input again and names the first fault and where it is.

#include "quenmark/json/read.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace quenmark::json {

inline bool is_json_white_space(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

inline std::size_t first_non_white_space(std::string_view text)
{
    std::size_t index = 0;
    while (index < text.size() && is_json_white_space(text[index]))
        ++index;
    return index;
}

// The first fault of the whole input, with its message and the offset of
// the offending byte (the input's size for an unexpected end): invalid UTF-8
// anywhere, then the first departure from the JSON grammar, arrays and
// objects nested deeper than read_max_depth included. None when the input
// is one JSON value between optional white space.
[[nodiscard]] std::optional<ReadError> find_syntax_error(std::string_view text);

} // namespace quenmark::json

#pragma once

// The --answers text of the attempt command: comma-separated choice indices.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace corvellactl {

// What the attempt command reports when the text is not a list of indices.
inline constexpr std::string_view answers_message = "--answers must be comma-separated choice indices, e.g. 1,0,1";

// The indices in order. The text is split at every comma; each piece, with
// Unicode white space around it removed, is at most one leading "+" and then
// decimal digits within the unsigned 64-bit range. None when any piece is
// not, so an empty text and a trailing comma are refused.
[[nodiscard]] std::optional<std::vector<std::uint64_t>> parse_answers(std::string_view text);

} // namespace corvellactl

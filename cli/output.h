#pragma once

// Result lines on standard output.

#include "context.h"

#include <string_view>

namespace corvellactl {

// Writes the text to standard output at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print(std::string_view text);

} // namespace corvellactl

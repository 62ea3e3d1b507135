#pragma once

// Result lines on standard output, and report lines on standard error.

#include "context.h"

#include <string_view>

namespace corvellactl {

// Writes the text to standard output at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print(std::string_view text);

// Writes the text to standard error at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print_to_stderr(std::string_view text);

} // namespace corvellactl

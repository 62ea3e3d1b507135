#pragma once

// The questions file of `assessment create`: a JSON array of
// {prompt, choices, correct_index} objects.

#include "corvella/assessment.h"
#include "quenmark/expected.h"

#include <cstddef>
#include <string>
#include <vector>

namespace corvellactl {

// Reads the file's text, followed by at least quenmark::json::read_padding
// readable bytes. Members other than the three are skipped; the building
// rules are not applied. On failure the reader's message with its line and
// column.
[[nodiscard]] quenmark::Expected<std::vector<corvella::RawQuestion>, std::string> parse_questions(char const* data,
                                                                                                   std::size_t size);

} // namespace corvellactl

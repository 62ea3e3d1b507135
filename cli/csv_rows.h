#pragma once

// CSV as spreadsheets write it (RFC 4180): rows of comma-separated fields,
// fields in double quotes where they hold a comma, a quote (doubled) or a
// line break; rows end in CRLF or LF.

#include "quenmark/expected.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvellactl {

// The most a row may hold, all its fields together: a batch row is a few
// identifiers and an answer list, so anything larger is a mistake.
inline constexpr std::size_t csv_row_limit = std::size_t { 1 } << 20U;

struct CsvRow {
    // The line the row starts on, counting from 1; a row whose quoted field
    // holds line breaks spans the lines after it.
    std::size_t line { 0 };
    std::vector<std::string> fields;

    friend bool operator==(CsvRow const&, CsvRow const&) = default;
};

// Where the text stops being CSV, and why.
struct CsvFault {
    std::size_t line { 0 };
    std::string reason;
};

// Every row of the text, in order. A byte-order mark at the start is
// skipped; lines without any field (blank lines) are not rows; spaces belong
// to their field. Faults: a quote inside an unquoted field, text after a
// closing quote, a quoted field left open at the end, a row over
// csv_row_limit.
[[nodiscard]] quenmark::Expected<std::vector<CsvRow>, CsvFault> read_csv(std::string_view text);

// The same rows handed to `take` one at a time, as they are read, so that a
// text of many rows is never held as rows all at once; the rows before a
// fault have been handed over.
[[nodiscard]] quenmark::Expected<void, CsvFault> for_each_csv_row(std::string_view text,
                                                                  std::function<void(CsvRow&&)> const& take);

// Appends one row, LF-terminated, quoting the fields that need it: those
// with a comma, a quote, a line break, one that starts with a byte-order mark
// (which would otherwise be skipped at the start of a text), and the one
// field of a row that is empty (which would otherwise be a blank line).
void append_csv_row(std::string& out, std::span<std::string const> fields);

} // namespace corvellactl

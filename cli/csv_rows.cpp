#include "csv_rows.h"

#include <csv.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvellactl {
namespace {

// libcsv's parser state between rows: no field of a row has begun.
constexpr int row_not_begun = 0;

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// What the callbacks gather while libcsv reads.
struct Reading {
    std::function<void(CsvRow&&)> const& take;
    CsvRow row;
    bool row_open { false };
    // The line the next row starts on, once the parser is between rows.
    std::size_t next_row_line { 0 };
    std::size_t row_bytes { 0 };
    bool too_long { false };
};

void on_field(void* bytes, std::size_t size, void* data)
{
    auto& reading = *static_cast<Reading*>(data);
    if (!reading.row_open) {
        reading.row_open = true;
        reading.row.line = reading.next_row_line;
    }
    reading.row_bytes += size + 1;
    if (reading.row_bytes > csv_row_limit) {
        reading.too_long = true;
        return;
    }
    reading.row.fields.emplace_back(static_cast<char const*>(bytes), size);
}

void on_row_end(int, void* data)
{
    auto& reading = *static_cast<Reading*>(data);
    reading.take(std::exchange(reading.row, {}));
    reading.row_open = false;
    reading.row_bytes = 0;
}

// Spaces are part of their field.
int no_space(unsigned char) { return 0; }

// Why libcsv refused the byte it stopped at.
std::string parse_fault(char stopped_at, std::size_t column)
{
    std::string reason = stopped_at == '"' ? "a double quote inside an unquoted field"
                                           : "text after the closing quote of a field";
    return reason + " (column " + std::to_string(column)
        + "); a field with a comma, a quote or a line break goes in double quotes, its quotes doubled";
}

class Parser {
public:
    Parser()
    {
        csv_init(&m_parser, CSV_STRICT | CSV_STRICT_FINI);
        csv_set_space_func(&m_parser, no_space);
    }
    Parser(Parser const&) = delete;
    Parser& operator=(Parser const&) = delete;
    ~Parser() { csv_free(&m_parser); }

    csv_parser* get() { return &m_parser; }

private:
    csv_parser m_parser {};
};

} // namespace

quenmark::Expected<std::vector<CsvRow>, CsvFault> read_csv(std::string_view text)
{
    std::vector<CsvRow> rows;
    TRY(for_each_csv_row(text, [&rows](CsvRow&& row) { rows.push_back(std::move(row)); }));
    return rows;
}

quenmark::Expected<void, CsvFault> for_each_csv_row(std::string_view text, std::function<void(CsvRow&&)> const& take)
{
    if (text.starts_with(byte_order_mark))
        text.remove_prefix(byte_order_mark.size());
    Parser parser;
    Reading reading { .take = take, .row = {} };
    auto const fault = [](std::size_t line, std::string reason) {
        return quenmark::unexpected(CsvFault { line, std::move(reason) });
    };
    // A row's own faults are reported at the line it starts on.
    auto const row_line = [&reading] { return reading.row_open ? reading.row.line : reading.next_row_line; };
    auto const row_too_long = [] { return "a row of more than " + std::to_string(csv_row_limit) + " bytes"; };

    // Fed a line at a time, so that each row learns the line it starts on,
    // and a long line in pieces, so that libcsv's buffer for the field it is
    // reading never grows far beyond the limit of a row.
    constexpr std::size_t piece_size = std::size_t { 64 } << 10U;
    std::size_t line = 1;
    for (std::size_t start = 0; start < text.size(); ++line) {
        std::size_t const newline = text.find('\n', start);
        std::size_t const end = newline == std::string_view::npos ? text.size() : newline + 1;
        if (parser.get()->pstate == row_not_begun)
            reading.next_row_line = line;
        for (std::size_t from = start; from < end; from += piece_size) {
            std::string_view const piece = text.substr(from, std::min(piece_size, end - from));
            std::size_t const parsed
                = csv_parse(parser.get(), piece.data(), piece.size(), on_field, on_row_end, &reading);
            if (reading.too_long || reading.row_bytes + parser.get()->entry_pos > csv_row_limit)
                return fault(row_line(), row_too_long());
            if (parsed < piece.size())
                return fault(line, parse_fault(piece[parsed], from - start + parsed + 1));
        }
        start = end;
    }
    // The last row may still be open, or its first field.
    std::size_t const last_row_line = row_line();
    if (csv_fini(parser.get(), on_field, on_row_end, &reading) != 0)
        return fault(last_row_line, "a quoted field is not closed before the end of the file");
    if (reading.too_long)
        return fault(last_row_line, row_too_long());
    return {};
}

void append_csv_row(std::string& out, std::span<std::string const> fields)
{
    for (std::size_t index = 0; index < fields.size(); ++index) {
        if (index > 0)
            out.push_back(',');
        std::string const& field = fields[index];
        bool const quoted = field.find_first_of(",\"\r\n") != std::string::npos || (fields.size() == 1 && field.empty())
            || field.starts_with(byte_order_mark);
        if (!quoted) {
            out.append(field);
            continue;
        }
        out.push_back('"');
        for (char const character : field) {
            if (character == '"')
                out.push_back('"');
            out.push_back(character);
        }
        out.push_back('"');
    }
    out.push_back('\n');
}

} // namespace corvellactl

// CSV rows of the batch commands: every text that reads is one whose rows,
// written out again, read back as the same fields, and whose second reading
// is written out the same. Each row starts on a line of the text, after the
// row before it.

#include "fuzz_support.h"

#include "csv_rows.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    auto const rows = corvellactl::read_csv(text);
    if (!rows)
        return 0;
    std::string written;
    std::size_t previous_line = 0;
    for (auto const& row : *rows) {
        fuzz::require(row.line > previous_line || (row.line == previous_line && previous_line > 0),
                      "rows start in order, on lines of the text");
        previous_line = row.line;
        corvellactl::append_csv_row(written, row.fields);
    }
    auto const again = corvellactl::read_csv(written);
    fuzz::require(again.has_value(), "rows written out read again");
    fuzz::require(again->size() == rows->size(), "as many rows read back");
    std::string rewritten;
    for (std::size_t index = 0; index < rows->size(); ++index) {
        fuzz::require((*again)[index].fields == (*rows)[index].fields, "each row reads back as the same fields");
        corvellactl::append_csv_row(rewritten, (*again)[index].fields);
    }
    fuzz::require(rewritten == written, "rows written a second time give the same text");
    return 0;
}

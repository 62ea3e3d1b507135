#include "csv_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using corvellactl::CsvRow;

TEST(Csv, ReadsWhatSpreadsheetsWrite)
{
    struct Row {
        std::string text;
        std::vector<CsvRow> rows;
    };
    std::vector<Row> const rows {
        { "", {} },
        { "a,b\r\n1,2\r\n", { { 1, { "a", "b" } }, { 2, { "1", "2" } } } },
        { "\xEF\xBB\xBF" "a\n\n\nb", { { 1, { "a" } }, { 4, { "b" } } } },
        { "\"x, \"\"y\"\"\",\n", { { 1, { "x, \"y\"", "" } } } },
        { "\"one\r\ntwo\",3\nnext\n", { { 1, { "one\r\ntwo", "3" } }, { 3, { "next" } } } },
        { " spaced , kept \n\"\"\n", { { 1, { " spaced ", " kept " } }, { 2, { "" } } } },
        { "a\n\"multi\nline\"\n", { { 1, { "a" } }, { 2, { "multi\nline" } } } },
    };
    for (auto const& row : rows) {
        auto const read = corvellactl::read_csv(row.text);
        ASSERT_TRUE(read.has_value()) << row.text << ": " << read.error().reason;
        EXPECT_EQ(*read, row.rows) << row.text;
        // Written out again, the rows read back the same.
        std::string written;
        for (auto const& csv_row : *read)
            corvellactl::append_csv_row(written, csv_row.fields);
        auto const again = corvellactl::read_csv(written);
        ASSERT_TRUE(again.has_value()) << written;
        ASSERT_EQ(again->size(), read->size());
        for (std::size_t index = 0; index < read->size(); ++index)
            EXPECT_EQ((*again)[index].fields, (*read)[index].fields) << written;
    }
}

TEST(Csv, RefusesWhatIsNotCsvAtItsLine)
{
    struct Row {
        std::string text;
        std::size_t line;
        std::string reason;
    };
    std::string const quoting = "; a field with a comma, a quote or a line break goes in double quotes, its quotes "
                                "doubled";
    std::vector<Row> const rows {
        { "a,b\nc,d\"e\n", 2, "a double quote inside an unquoted field (column 4)" + quoting },
        { "a\n\"b\"c\n", 2, "text after the closing quote of a field (column 4)" + quoting },
        { "a\n\"open\n\n", 2, "a quoted field is not closed before the end of the file" },
        { "a\nb," + std::string(corvellactl::csv_row_limit, 'x') + "\n", 2, "a row of more than 1048576 bytes" },
        // Refused while libcsv still gathers the field, at the line it starts on.
        { "a\n\"" + std::string(corvellactl::csv_row_limit, 'x') + "\nmore\"\n", 2, "a row of more than 1048576 bytes" },
        { "a\n" + std::string(100000, 'x') + "\"\n", 2, "a double quote inside an unquoted field (column 100001)" + quoting },
    };
    for (auto const& row : rows) {
        auto const read = corvellactl::read_csv(row.text);
        ASSERT_FALSE(read.has_value()) << row.reason;
        EXPECT_EQ(read.error().line, row.line) << row.reason;
        EXPECT_EQ(read.error().reason, row.reason);
    }
}

} // namespace

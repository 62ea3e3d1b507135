#include "context.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using corvellactl::CommandError;

TEST(CommandError, EachVariantShowsItsText)
{
    struct Row {
        CommandError error;
        CommandError::Kind kind;
        std::string text;
    };
    auto const training = corvella::TrainingError::non_positive_validity(0);
    std::vector<Row> const rows {
        { CommandError::io(ENOENT), CommandError::Kind::Io, "io error: No such file or directory" },
        { CommandError::io("stream did not contain valid UTF-8"), CommandError::Kind::Io,
          "io error: stream did not contain valid UTF-8" },
        { CommandError::json("EOF while parsing a value at line 1 column 1"), CommandError::Kind::Json,
          "json error: EOF while parsing a value at line 1 column 1" },
        { training, CommandError::Kind::Training, training.text() },
        { corvella::TrainingValidationError::empty_field(corvella::TextField::Title), CommandError::Kind::Validation,
          "title must not be empty" },
        { quenmark::ContractError::signature_verification(), CommandError::Kind::Platform,
          "signature verification failed" },
        { CommandError::not_found("assessment 11111111-1111-4111-8111-111111111111"), CommandError::Kind::NotFound,
          "not found: assessment 11111111-1111-4111-8111-111111111111" },
        { CommandError::message("3 problem(s) found"), CommandError::Kind::Message, "3 problem(s) found" },
        { CommandError::stored("the change was stored, but its result could not be printed: io error: x"),
          CommandError::Kind::Stored, "the change was stored, but its result could not be printed: io error: x" },
    };
    for (auto const& row : rows) {
        EXPECT_EQ(row.error.kind(), row.kind) << row.text;
        EXPECT_EQ(row.error.text(), row.text);
    }
}

} // namespace

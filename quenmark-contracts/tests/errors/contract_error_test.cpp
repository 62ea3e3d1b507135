#include "quenmark/errors/contract_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using quenmark::ContractError;

TEST(ContractError, EachVariantShowsItsText)
{
    struct Row {
        ContractError error;
        ContractError::Kind kind;
        std::string text;
    };
    std::vector<Row> const rows {
        { ContractError::invalid_identifier("Slug", "must not be empty"), ContractError::Kind::InvalidIdentifier,
          "invalid Slug identifier: must not be empty" },
        { ContractError::canonical_serialization("number is not finite"),
          ContractError::Kind::CanonicalSerialization, "canonical serialization failed: number is not finite" },
        { ContractError::signature_verification(), ContractError::Kind::SignatureVerification,
          "signature verification failed" },
        { ContractError::unknown_algorithm("rsa"), ContractError::Kind::UnknownAlgorithm,
          "unknown or rejected algorithm: rsa" },
        { ContractError::validation_failed("title must not be empty"), ContractError::Kind::ValidationFailed,
          "validation failed: title must not be empty" },
    };
    for (auto const& row : rows) {
        EXPECT_EQ(row.error.kind(), row.kind) << row.text;
        EXPECT_EQ(row.error.text(), row.text);
    }
}

TEST(ContractError, KeepsItsIdentifierKindAfterTheCallersTextIsGone)
{
    auto const make = [] {
        std::string kind = "Assessment";
        kind += "Id, spelled out at length so the text lives on the heap";
        auto error = ContractError::invalid_identifier(kind, "bad");
        kind.assign(kind.size(), 'x');
        return error;
    };
    auto const error = make();
    EXPECT_EQ(error.text(), "invalid AssessmentId, spelled out at length so the text lives on the heap identifier: bad");
    EXPECT_EQ(error, make());
    EXPECT_NE(error, ContractError::invalid_identifier("CourseId", "bad"));
}

} // namespace

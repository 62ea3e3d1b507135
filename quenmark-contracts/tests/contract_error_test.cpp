#include "quenmark/contract_error.h"

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
        { ContractError::unsupported_contract_version("3", "1", "2"), ContractError::Kind::UnsupportedContractVersion,
          "unsupported contract version: 3 (supported 1..=2)" },
        { ContractError::canonical_serialization("number is not finite"),
          ContractError::Kind::CanonicalSerialization, "canonical serialization failed: number is not finite" },
        { ContractError::signature_verification(), ContractError::Kind::SignatureVerification,
          "signature verification failed" },
        { ContractError::unknown_algorithm("rsa"), ContractError::Kind::UnknownAlgorithm,
          "unknown or rejected algorithm: rsa" },
        { ContractError::envelope_expired("2024-01-01T00:00:00Z"), ContractError::Kind::EnvelopeExpired,
          "envelope expired at 2024-01-01T00:00:00Z" },
        { ContractError::envelope_not_yet_valid("2024-01-01T00:00:00Z"), ContractError::Kind::EnvelopeNotYetValid,
          "envelope is not yet valid until 2024-01-01T00:00:00Z" },
        { ContractError::encryption_failed(), ContractError::Kind::EncryptionFailed, "encryption failed" },
        { ContractError::decryption_failed(), ContractError::Kind::DecryptionFailed, "decryption failed" },
        { ContractError::validation_failed("title must not be empty"), ContractError::Kind::ValidationFailed,
          "validation failed: title must not be empty" },
        { ContractError::unknown_product("nothing"), ContractError::Kind::UnknownProduct, "unknown product: nothing" },
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

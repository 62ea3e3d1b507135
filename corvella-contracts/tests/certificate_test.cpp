#include "corvella/certificate.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::from_json;
using training_fixtures::id;
using training_fixtures::key_from_seed;
using training_fixtures::to_json;

namespace {

constexpr std::int64_t one_day = 86400;

CompletionRecord completion_for(AssessmentDefinition const& assessment)
{
    return CompletionRecord {
        .id = CompletionRecordId::mint(),
        .tenant_id = TenantId::mint(),
        .workspace_id = WorkspaceId::mint(),
        .principal_id = IdentityId::mint(),
        .assignment_id = AssignmentId::mint(),
        .assessment_id = assessment.id,
        .assessment_version = assessment.version,
        .attempt_id = AttemptId::mint(),
        .score_band = ScoreBand::Distinction,
        .completed_at = at("2026-12-01T00:00:00Z"),
        .expires_at = std::nullopt,
        .evidence_ref = std::nullopt,
    };
}

Certificate issued(quenmark::Timestamp issued_at, std::int64_t validity_seconds)
{
    AssessmentDefinition const assessment = training_fixtures::three_questions(2, 2);
    auto certificate =
        issue_certificate(key_from_seed(7), completion_for(assessment), assessment, issued_at, validity_seconds);
    EXPECT_TRUE(test_support::has_value(certificate));
    return *certificate;
}

TEST(IssueCertificate, FillsThePayloadFromRecordAndAssessment)
{
    AssessmentDefinition assessment = training_fixtures::three_questions(2, 2);
    assessment.version = 4;
    CompletionRecord const record = completion_for(assessment);
    quenmark::Timestamp const now = at("2026-12-07T04:00:09Z");
    auto const certificate = issue_certificate(key_from_seed(7), record, assessment, now, one_day);
    ASSERT_TRUE(test_support::has_value(certificate));
    CertificatePayload const& payload = certificate->payload;
    EXPECT_EQ(payload.tenant_id, record.tenant_id);
    EXPECT_EQ(payload.workspace_id, record.workspace_id);
    EXPECT_EQ(payload.principal_id, record.principal_id);
    EXPECT_EQ(payload.course_id, assessment.course_id);
    EXPECT_EQ(payload.assessment_id, assessment.id);
    EXPECT_EQ(payload.assessment_version, 4U);
    EXPECT_EQ(payload.completion_record_id, record.id);
    EXPECT_EQ(payload.score_band, ScoreBand::Distinction);
    EXPECT_EQ(payload.issued_at, now);
    EXPECT_EQ(payload.expires_at, at("2026-12-08T04:00:09Z"));

    auto const again = issue_certificate(key_from_seed(7), record, assessment, now, one_day);
    ASSERT_TRUE(test_support::has_value(again));
    EXPECT_NE(again->payload.certificate_id, payload.certificate_id);
    EXPECT_NE(again->signature, certificate->signature);
}

TEST(IssueCertificate, RefusalsInOrder)
{
    AssessmentDefinition const assessment = training_fixtures::three_questions(2, 2);
    std::string const mismatch =
        "completion record does not match assessment AssessmentId(" + assessment.id.to_string() + ") version 1";
    CompletionRecord const matching = completion_for(assessment);
    CompletionRecord other_assessment = matching;
    other_assessment.assessment_id = AssessmentId::mint();
    CompletionRecord other_version = matching;
    other_version.assessment_version = 2;

    struct Row {
        CompletionRecord const* record;
        std::int64_t validity_seconds;
        std::string expected;
    };
    Row const rows[] = {
        { &other_assessment, 0, mismatch },
        { &other_version, one_day, mismatch },
        { &matching, 0, "certificate validity period must be positive, got 0 seconds" },
        { &matching, -one_day, "certificate validity period must be positive, got -86400 seconds" },
        { &matching, std::numeric_limits<std::int64_t>::min(),
          "certificate validity period must be positive, got -9223372036854775808 seconds" },
        { &matching, 1, "<value>" },
    };
    for (auto const& row : rows) {
        auto const result = issue_certificate(key_from_seed(7), *row.record, assessment, at("2026-01-01T00:00:00Z"),
                                              row.validity_seconds);
        EXPECT_EQ(test_support::error_text(result), row.expected);
    }
}

TEST(CheckCertificate, ValidityWindowAndSignature)
{
    Certificate const certificate = issued(at("2026-12-07T04:00:09Z"), one_day);
    quenmark::VerifyingKey const key = key_from_seed(7).verifying_key();
    std::string const short_id = certificate.payload.certificate_id.to_string().substr(0, 8) + "\u2026";
    std::string const invalid = "certificate CertificationId(" + short_id + ") failed signature verification";

    Certificate changed_version = certificate;
    changed_version.payload.assessment_version += 1;
    Certificate changed_band = certificate;
    changed_band.payload.score_band = ScoreBand::Pass;
    Certificate changed_signature = certificate;
    changed_signature.signature.bytes[0] ^= 1;

    struct Row {
        Certificate const* certificate;
        quenmark::VerifyingKey key;
        quenmark::Timestamp as_of;
        std::string expected;
    };
    Row const rows[] = {
        { &certificate, key, at("2026-12-08T04:00:09Z"), "<value>" },
        { &certificate, key, at("2026-12-08T04:00:10Z"),
          "certificate CertificationId(" + short_id + ") expired at 2026-12-08T04:00:09Z" },
        { &certificate, key, at("2020-01-01T00:00:00Z"), "<value>" },
        { &certificate, key_from_seed(8).verifying_key(), at("2026-12-07T04:00:09Z"), invalid },
        { &changed_version, key, at("2026-12-07T04:00:09Z"), invalid },
        { &changed_version, key, at("2030-01-01T00:00:00Z"), invalid },
        { &changed_band, key, at("2026-12-07T04:00:09Z"), invalid },
        { &changed_signature, key, at("2026-12-07T04:00:09Z"), invalid },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(check_certificate(*row.certificate, row.key, row.as_of)), row.expected);
}

TEST(SigningInput, CanonicalBytesOfThePayload)
{
    CertificatePayload const payload {
        .certificate_id = id<CertificationId>("00000000-0000-4000-8000-000000000001"),
        .tenant_id = id<TenantId>("00000000-0000-4000-8000-000000000002"),
        .workspace_id = id<WorkspaceId>("00000000-0000-4000-8000-000000000003"),
        .principal_id = id<IdentityId>("00000000-0000-4000-8000-000000000004"),
        .course_id = id<CourseId>("00000000-0000-4000-8000-000000000005"),
        .assessment_id = id<AssessmentId>("00000000-0000-4000-8000-000000000006"),
        .assessment_version = 1,
        .completion_record_id = id<CompletionRecordId>("00000000-0000-4000-8000-000000000007"),
        .score_band = ScoreBand::Pass,
        .issued_at = at("2026-12-07T04:00:09Z"),
        .expires_at = at("2026-12-08T04:00:09Z"),
    };
    auto const bytes = signing_input(payload);
    ASSERT_TRUE(test_support::has_value(bytes));
    EXPECT_EQ(*bytes, "{\"assessment_id\":\"00000000-0000-4000-8000-000000000006\","
                      "\"assessment_version\":1,"
                      "\"certificate_id\":\"00000000-0000-4000-8000-000000000001\","
                      "\"completion_record_id\":\"00000000-0000-4000-8000-000000000007\","
                      "\"course_id\":\"00000000-0000-4000-8000-000000000005\","
                      "\"expires_at\":\"2026-12-08T04:00:09Z\","
                      "\"issued_at\":\"2026-12-07T04:00:09Z\","
                      "\"principal_id\":\"00000000-0000-4000-8000-000000000004\","
                      "\"score_band\":\"pass\","
                      "\"tenant_id\":\"00000000-0000-4000-8000-000000000002\","
                      "\"workspace_id\":\"00000000-0000-4000-8000-000000000003\"}");
}

TEST(CertificateJson, RoundTripReproducesTheSigningInput)
{
    Certificate const certificate = issued(at("2026-12-07T04:00:09Z"), 30 * one_day);
    std::string const text = to_json(certificate);
    EXPECT_THAT(text, testing::StartsWith("{\n  \"payload\": {\n    \"certificate_id\": \""));
    EXPECT_THAT(text, testing::HasSubstr("\"signature\": \"" + certificate.signature.to_text() + "\"\n}"));

    auto const read = from_json<Certificate>(text);
    ASSERT_TRUE(test_support::has_value(read));
    EXPECT_EQ(*read, certificate);
    EXPECT_EQ(*signing_input(read->payload), *signing_input(certificate.payload));
    EXPECT_TRUE(test_support::has_value(
        check_certificate(*read, key_from_seed(7).verifying_key(), at("2026-12-07T04:00:09Z"))));
}

TEST(CertificateJson, ReadingFailures)
{
    using testing::StartsWith;
    Certificate const certificate = issued(at("2026-12-07T04:00:09Z"), one_day);
    std::string const valid = to_json(certificate);
    auto replaced = [&](std::string const& from, std::string const& to) {
        std::string text = valid;
        text.replace(text.find(from), from.size(), to);
        return test_support::error_text(from_json<Certificate>(text));
    };
    std::string const signature = "\"" + certificate.signature.to_text() + "\"";
    EXPECT_THAT(replaced("\"signature\"", "\"sig\""), StartsWith("missing field `signature`"));
    EXPECT_THAT(replaced("\"expires_at\"", "\"expiry\""), StartsWith("missing field `expires_at`"));
    EXPECT_THAT(replaced(signature, "\"abc\""),
                StartsWith(quenmark::Signature::parse("abc").error().text() + " at line 15 column 16"));
    // Reading checks neither the signature nor the validity window.
    EXPECT_EQ(replaced("\"distinction\"", "\"fail\""), "<value>");
}

TEST(CertificateJson, SaturatedExpiryStaysVerifiableAfterStoring)
{
    quenmark::Timestamp const now = at("2026-12-07T04:00:09Z");
    Certificate const certificate = issued(now, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(certificate.payload.expires_at, at("9999-12-31T23:59:59Z"));
    EXPECT_EQ(certificate.payload.expires_at.to_text(), "9999-12-31T23:59:59Z");

    auto const read = from_json<Certificate>(to_json(certificate));
    ASSERT_TRUE(test_support::has_value(read));
    EXPECT_EQ(*read, certificate);
    quenmark::VerifyingKey const key = key_from_seed(7).verifying_key();
    EXPECT_TRUE(test_support::has_value(check_certificate(*read, key, now)));
    EXPECT_TRUE(test_support::has_value(check_certificate(*read, key, at("9999-12-31T23:59:59Z"))));

    // One second short of saturating keeps its exact expiry.
    std::int64_t const to_the_end = at("9999-12-31T23:59:59Z").unix_seconds() - now.unix_seconds();
    EXPECT_EQ(issued(now, to_the_end).payload.expires_at, at("9999-12-31T23:59:59Z"));
    EXPECT_EQ(issued(now, to_the_end - 1).payload.expires_at, at("9999-12-31T23:59:58Z"));
}

} // namespace

namespace {

// A revocation is written after the signature and read back; without one the
// certificate's JSON has no member for it, and a state file written before
// revocations existed reads as never revoked.
TEST(CertificateJson, RevocationIsOmittedUntilPresent)
{
    Certificate certificate = issued(at("2026-12-07T04:00:09Z"), one_day);
    std::string const plain = to_json(certificate);
    EXPECT_EQ(plain.find("revocation"), std::string::npos);

    certificate.revocation = Revocation { at("2026-12-08T00:00:00Z"), "issued in error \"x\"" };
    std::string const revoked = to_json(certificate);
    EXPECT_THAT(revoked, testing::EndsWith("\",\n  \"revocation\": {\n    \"revoked_at\": \"2026-12-08T00:00:00Z\",\n"
                                           "    \"reason\": \"issued in error \\\"x\\\"\"\n  }\n}"));
    auto const read = from_json<Certificate>(revoked);
    ASSERT_TRUE(test_support::has_value(read));
    EXPECT_EQ(*read, certificate);
    Certificate const never_revoked { certificate.payload, certificate.signature, std::nullopt };
    EXPECT_EQ(*from_json<Certificate>(plain), never_revoked);
    EXPECT_THAT(test_support::error_text(from_json<Certificate>(
                    revoked.substr(0, revoked.find("\"reason\"")) + "\"because\": 1\n  }\n}")),
                testing::StartsWith("missing field `reason`"));
}

} // namespace

namespace {

TEST(Revocation, ReasonsMustBeOneLineOfText)
{
    quenmark::Timestamp const now = at("2026-12-08T00:00:00Z");
    struct Row {
        std::string reason;
        std::string expected;
    };
    Row const rows[] = {
        { "left the company", "<value>" },
        { "  kept as given \u00e9\u0301 ", "<value>" },
        { "", "reason must not be empty" },
        { " \t\u3000\u2003", "reason must not be empty" },
        { "first line\nsecond line", "reason must be one line without control characters" },
        { "carriage\rreturn", "reason must be one line without control characters" },
        { "tab\tinside", "reason must be one line without control characters" },
        { std::string("nul") + '\0' + "inside", "reason must be one line without control characters" },
        { "delete\x7f", "reason must be one line without control characters" },
        { "next line\u0085", "reason must be one line without control characters" },
        { "line\u2028separator", "reason must be one line without control characters" },
        { "paragraph\u2029separator", "reason must be one line without control characters" },
    };
    for (auto const& row : rows) {
        auto const built = build_revocation(now, row.reason);
        EXPECT_EQ(test_support::error_text(built), row.expected) << row.reason;
        if (built) {
            EXPECT_EQ(built->reason, row.reason);
            EXPECT_EQ(built->revoked_at, now);
        }
    }
}

TEST(Revocation, RecordedOnceAndLeavesTheSignedPartAlone)
{
    Certificate const certificate = issued(at("2026-12-07T04:00:09Z"), one_day);
    auto const revoked = revoke_certificate(certificate, Revocation { at("2026-12-07T10:00:00Z"), "issued in error" });
    ASSERT_TRUE(test_support::has_value(revoked));
    EXPECT_EQ(revoked->payload, certificate.payload);
    EXPECT_EQ(revoked->signature, certificate.signature);
    EXPECT_EQ(revoked->revocation, (Revocation { at("2026-12-07T10:00:00Z"), "issued in error" }));

    std::string const short_id = certificate.payload.certificate_id.to_string().substr(0, 8) + "\u2026";
    EXPECT_EQ(test_support::error_text(revoke_certificate(*revoked, Revocation { at("2026-12-07T11:00:00Z"), "x" })),
              "certificate CertificationId(" + short_id + ") was already revoked at 2026-12-07T10:00:00Z: issued in error");
}

// The signature is checked first, then the revocation, then the expiry.
TEST(CheckCertificate, RevocationBetweenSignatureAndExpiry)
{
    Certificate certificate = issued(at("2026-12-07T04:00:09Z"), one_day);
    certificate.revocation = Revocation { at("2026-12-07T10:00:00Z"), "issued in error" };
    quenmark::VerifyingKey const key = key_from_seed(7).verifying_key();
    std::string const short_id = certificate.payload.certificate_id.to_string().substr(0, 8) + "\u2026";
    std::string const revoked = "revoked at 2026-12-07T10:00:00Z: issued in error";
    Certificate forged = certificate;
    forged.payload.assessment_version += 1;

    struct Row {
        Certificate const* certificate;
        quenmark::VerifyingKey key;
        quenmark::Timestamp as_of;
        std::string expected;
    };
    Row const rows[] = {
        { &certificate, key, at("2026-12-07T09:59:59Z"), "<value>" },
        { &certificate, key, at("2020-01-01T00:00:00Z"), "<value>" },
        { &certificate, key, at("2026-12-07T10:00:00Z"), revoked },
        { &certificate, key, at("2026-12-08T04:00:09Z"), revoked },
        { &certificate, key, at("2030-01-01T00:00:00Z"), revoked },
        { &forged, key, at("2030-01-01T00:00:00Z"),
          "certificate CertificationId(" + short_id + ") failed signature verification" },
        { &certificate, key_from_seed(8).verifying_key(), at("2026-12-07T10:00:00Z"),
          "certificate CertificationId(" + short_id + ") failed signature verification" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(check_certificate(*row.certificate, row.key, row.as_of)), row.expected);

    // Revoked after its expiry: expired until the revocation, revoked from then on.
    certificate.revocation = Revocation { at("2027-01-01T00:00:00Z"), "audit finding" };
    EXPECT_EQ(test_support::error_text(check_certificate(certificate, key, at("2026-12-31T23:59:59Z"))),
              "certificate CertificationId(" + short_id + ") expired at 2026-12-08T04:00:09Z");
    EXPECT_EQ(test_support::error_text(check_certificate(certificate, key, at("2027-01-01T00:00:00Z"))),
              "revoked at 2027-01-01T00:00:00Z: audit finding");
}

} // namespace

// Certificates as Open Badges 3.0 credentials: the exported shape, the check
// as of an instant, and each reason a credential fails, reached by editing a
// credential and signing it again so that its proof still holds.

#include "corvella/credential.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace corvella;
using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;
using training_fixtures::at;
using training_fixtures::id;
using training_fixtures::key_from_seed;

namespace {

// A certificate with fixed identifiers, signed with the key of seed 7.
Certificate fixed_certificate(ScoreBand band = ScoreBand::Distinction)
{
    CertificatePayload payload {
        .certificate_id = id<CertificationId>("c1c1c1c1-0000-4000-8000-000000000001"),
        .tenant_id = id<TenantId>("7e7e7e7e-0000-4000-8000-000000000002"),
        .workspace_id = id<WorkspaceId>("57575757-0000-4000-8000-000000000003"),
        .principal_id = id<IdentityId>("9a9a9a9a-0000-4000-8000-000000000004"),
        .course_id = id<CourseId>("11111111-2222-4333-8444-555555555555"),
        .assessment_id = id<AssessmentId>("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9"),
        .assessment_version = 1,
        .completion_record_id = id<CompletionRecordId>("c0c0c0c0-0000-4000-8000-000000000005"),
        .score_band = band,
        .issued_at = at("2026-01-03T00:00:00Z"),
        .expires_at = at("2027-01-03T00:00:00Z"),
    };
    auto const bytes = signing_input(payload);
    EXPECT_TRUE(test_support::has_value(bytes));
    quenmark::Signature const signature = key_from_seed(7).sign(std::string_view(*bytes));
    return Certificate { payload, signature, std::nullopt };
}

AssessmentDefinition assessment() { return training_fixtures::three_questions(2, 3); }

quenmark::Timestamp const created = at("2026-12-08T04:00:09Z");

Object exported(Certificate const& certificate = fixed_certificate(), std::uint8_t seed = 7)
{
    auto credential = certificate_credential(certificate, assessment(), key_from_seed(seed), created);
    EXPECT_TRUE(test_support::has_value(credential));
    return credential ? *credential : Object {};
}

std::string pretty(Object const& object)
{
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    EXPECT_TRUE(test_support::has_value(quenmark::json::write_tree(writer, Value(object))));
    return out;
}

std::string check_text(Object const& credential, std::string_view as_of)
{
    auto const checked = check_credential(credential, at(as_of));
    return checked ? "valid, issuer " + checked->issuer : checked.error().text();
}

// The member at a path of names and indices, for editing.
Value& member(Object& object, std::vector<std::string> const& path)
{
    Value* current = nullptr;
    Object* level = &object;
    for (std::string const& step : path) {
        if (level == nullptr) {
            current = &std::get<Array>(current->data).at(std::stoul(step));
        } else {
            auto found = std::find_if(level->begin(), level->end(), [&](auto const& entry) { return entry.first == step; });
            if (found == level->end()) {
                level->emplace_back(step, Value());
                found = std::prev(level->end());
            }
            current = &found->second;
        }
        level = std::get_if<Object>(&current->data);
    }
    return *current;
}

void remove(Object& object, std::string const& name)
{
    std::erase_if(object, [&](auto const& entry) { return entry.first == name; });
}

// The credential edited and signed again with the key of `seed`, so that
// its proof holds and the deeper checks are reached.
Object resigned(Object credential, std::function<void(Object&)> const& edit, std::uint8_t seed = 7)
{
    remove(credential, "proof");
    edit(credential);
    quenmark::SigningKey const key = key_from_seed(seed);
    auto secured = quenmark::add_proof(
        std::move(credential),
        { .created = created, .verification_method = quenmark::did_key_verification_method(key.verifying_key()) }, key);
    EXPECT_TRUE(test_support::has_value(secured));
    return secured ? *secured : Object {};
}

TEST(CertificateCredential, ShapeOfTheExportedCredential)
{
    Object credential = exported();
    std::string const did = quenmark::did_key(key_from_seed(7).verifying_key());
    std::string& proof_value = std::get<std::string>(member(credential, { "proof", "proofValue" }).data);
    EXPECT_EQ(proof_value.substr(0, 1), "z");
    proof_value = "z...";
    std::string const expected = R"j({
  "@context": [
    "https://www.w3.org/ns/credentials/v2",
    "https://purl.imsglobal.org/spec/ob/v3p0/context-3.0.3.json",
    "https://www.w3.org/ns/credentials/undefined-terms/v2"
  ],
  "id": "urn:uuid:c1c1c1c1-0000-4000-8000-000000000001",
  "type": [
    "VerifiableCredential",
    "OpenBadgeCredential"
  ],
  "name": "Data handling",
  "issuer": {
    "id": ")j" + did + R"j(",
    "type": [
      "Profile"
    ]
  },
  "validFrom": "2026-01-03T00:00:00Z",
  "validUntil": "2027-01-03T00:00:00Z",
  "credentialSubject": {
    "id": "urn:uuid:9a9a9a9a-0000-4000-8000-000000000004",
    "type": [
      "AchievementSubject"
    ],
    "achievement": {
      "id": "urn:uuid:0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9",
      "type": [
        "Achievement"
      ],
      "achievementType": "Assessment",
      "name": "Data handling",
      "description": "Passed version 1 of the assessment \"Data handling\"",
      "criteria": {
        "narrative": "Pass the assessment: at least 2 of its 3 questions answered correctly (Distinction: all 3)"
      },
      "version": "1",
      "resultDescription": [
        {
          "id": "urn:uuid:0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9#score-band",
          "type": [
            "ResultDescription"
          ],
          "name": "Score band",
          "resultType": "LetterGrade",
          "allowedValue": [
            "Pass",
            "Distinction"
          ]
        }
      ]
    },
    "result": [
      {
        "type": [
          "Result"
        ],
        "resultDescription": "urn:uuid:0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9#score-band",
        "value": "Distinction"
      }
    ]
  },
  "evidence": [
    {
      "type": [
        "Evidence"
      ],
      "name": "Signed certificate",
      "description": "The certificate as it was issued: its payload, and the Ed25519 signature (hex) over the payload's canonical JSON made with the issuer's key",
      "certificate": {
        "payload": {
          "certificate_id": "c1c1c1c1-0000-4000-8000-000000000001",
          "tenant_id": "7e7e7e7e-0000-4000-8000-000000000002",
          "workspace_id": "57575757-0000-4000-8000-000000000003",
          "principal_id": "9a9a9a9a-0000-4000-8000-000000000004",
          "course_id": "11111111-2222-4333-8444-555555555555",
          "assessment_id": "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9",
          "assessment_version": 1,
          "completion_record_id": "c0c0c0c0-0000-4000-8000-000000000005",
          "score_band": "distinction",
          "issued_at": "2026-01-03T00:00:00Z",
          "expires_at": "2027-01-03T00:00:00Z"
        },
        "signature": ")j" + fixed_certificate().signature.to_text() + R"j("
      }
    }
  ],
  "proof": {
    "type": "DataIntegrityProof",
    "cryptosuite": "eddsa-jcs-2022",
    "created": "2026-12-08T04:00:09Z",
    "verificationMethod": ")j" + quenmark::did_key_verification_method(key_from_seed(7).verifying_key()) + R"j(",
    "proofPurpose": "assertionMethod",
    "@context": [
      "https://www.w3.org/ns/credentials/v2",
      "https://purl.imsglobal.org/spec/ob/v3p0/context-3.0.3.json",
      "https://www.w3.org/ns/credentials/undefined-terms/v2"
    ],
    "proofValue": "z..."
  }
})j";
    EXPECT_EQ(pretty(credential), expected);
}

// Only a certificate that still stands is exported; the same inputs give the
// same bytes (Ed25519 is deterministic).
TEST(CertificateCredential, RefusalsAndReproducibility)
{
    auto const refusal = [](Certificate const& certificate, std::uint8_t seed) {
        return test_support::error_text(certificate_credential(certificate, assessment(), key_from_seed(seed), created));
    };
    Certificate revoked = fixed_certificate();
    revoked.revocation = Revocation { at("2026-06-01T00:00:00Z"), "issued in error" };
    EXPECT_EQ(refusal(revoked, 7), "revoked at 2026-06-01T00:00:00Z: issued in error");
    EXPECT_EQ(refusal(fixed_certificate(), 9), "certificate CertificationId(c1c1c1c1\u2026) failed signature verification");
    Certificate edited = fixed_certificate();
    edited.payload.score_band = ScoreBand::Pass;
    EXPECT_EQ(refusal(edited, 7), "certificate CertificationId(c1c1c1c1\u2026) failed signature verification");
    // An expired certificate is exported; its credential says until when it was valid.
    EXPECT_EQ(refusal(fixed_certificate(), 7), "<value>");
    EXPECT_EQ(pretty(exported()), pretty(exported()));
}

// Valid from validFrom to validUntil, both included.
TEST(CheckCredential, ValidityWindow)
{
    Object const credential = exported();
    std::string const valid = "valid, issuer " + quenmark::did_key(key_from_seed(7).verifying_key());
    EXPECT_EQ(check_text(credential, "2026-01-03T00:00:00Z"), valid);
    EXPECT_EQ(check_text(credential, "2026-06-01T12:00:00Z"), valid);
    EXPECT_EQ(check_text(credential, "2027-01-03T00:00:00Z"), valid);
    EXPECT_EQ(check_text(credential, "2026-01-02T23:59:59Z"), "it is not valid before 2026-01-03T00:00:00Z");
    EXPECT_EQ(check_text(credential, "2027-01-03T00:00:01Z"), "it expired at 2027-01-03T00:00:00Z");
    auto const checked = check_credential(credential, at("2026-06-01T00:00:00Z"));
    ASSERT_TRUE(test_support::has_value(checked));
    EXPECT_EQ(checked->certificate, fixed_certificate());
    // The first release exported the first two contexts alone.
    Object const first_release
        = resigned(credential, [](Object& c) { std::get<Array>(member(c, { "@context" }).data).pop_back(); });
    EXPECT_EQ(check_text(first_release, "2026-06-01T12:00:00Z"), valid);
}

struct Tampering {
    char const* name;
    std::function<void(Object&)> edit;
    std::string reason;
    std::uint8_t seed { 7 };
};

std::vector<Tampering> re_signed_tamperings()
{
    std::string const other_did = quenmark::did_key(key_from_seed(9).verifying_key());
    std::string const no_certificate = "its proof verifies, but it carries no certificate issued by corvellactl";
    return {
        { "a context appended", [](Object& c) { std::get<Array>(member(c, { "@context" }).data).emplace_back("https://example.org/v1"); },
          "its @context is not the Verifiable Credentials 2.0, Open Badges 3.0 and undefined-terms contexts, nor the "
              "first two alone" },
        { "another issuer named", [other_did](Object& c) { member(c, { "issuer", "id" }) = Value(other_did); },
          "its issuer is not the did:key that signed it" },
        { "the issuer as a plain string of another key", [other_did](Object& c) { member(c, { "issuer" }) = Value(other_did); },
          "its issuer is not the did:key that signed it" },
        { "signed by another key that names itself the issuer",
          [other_did](Object& c) { member(c, { "issuer", "id" }) = Value(other_did); },
          "the certificate it carries does not verify under its issuer's key", 9 },
        { "no evidence", [](Object& c) { remove(c, "evidence"); }, no_certificate },
        { "another's credential: its own contexts and no evidence",
          [](Object& c) {
              member(c, { "@context" }) = Value(Array { Value("https://www.w3.org/ns/credentials/v2") });
              remove(c, "evidence");
          },
          no_certificate },
        { "evidence without a certificate",
          [](Object& c) { remove(std::get<Object>(member(c, { "evidence", "0" }).data), "certificate"); },
          no_certificate },
        { "a certificate without its signature",
          [](Object& c) { remove(std::get<Object>(member(c, { "evidence", "0", "certificate" }).data), "signature"); },
          "the certificate it carries cannot be read: missing field `signature`" },
        { "a certificate whose payload was changed",
          [](Object& c) { member(c, { "evidence", "0", "certificate", "payload", "assessment_version" }) = Value(std::uint64_t { 2 }); },
          "the certificate it carries does not verify under its issuer's key" },
        { "another credential id", [](Object& c) { member(c, { "id" }) = Value("urn:uuid:c1c1c1c1-0000-4000-8000-000000000009"); },
          "its id does not match the certificate it carries" },
        { "validFrom moved", [](Object& c) { member(c, { "validFrom" }) = Value("2025-01-03T00:00:00Z"); },
          "its validFrom does not match the certificate it carries" },
        { "validUntil moved", [](Object& c) { member(c, { "validUntil" }) = Value("2099-01-03T00:00:00Z"); },
          "its validUntil does not match the certificate it carries" },
        { "another learner", [](Object& c) { member(c, { "credentialSubject", "id" }) = Value("urn:uuid:9a9a9a9a-0000-4000-8000-000000000009"); },
          "its credentialSubject.id does not match the certificate it carries" },
        { "another assessment", [](Object& c) { member(c, { "credentialSubject", "achievement", "id" }) = Value("urn:uuid:0f1e2d3c-4b5a-4978-8695-000000000000"); },
          "its credentialSubject.achievement.id does not match the certificate it carries" },
        { "another version", [](Object& c) { member(c, { "credentialSubject", "achievement", "version" }) = Value("2"); },
          "its credentialSubject.achievement.version does not match the certificate it carries" },
        { "another score band", [](Object& c) { member(c, { "credentialSubject", "result", "0", "value" }) = Value("Pass"); },
          "its credentialSubject.result.0.value does not match the certificate it carries" },
        { "no result", [](Object& c) { remove(std::get<Object>(member(c, { "credentialSubject" }).data), "result"); },
          "its credentialSubject.result.0.value does not match the certificate it carries" },
    };
}

TEST(CheckCredential, EachReasonAfterAProofThatHolds)
{
    Object const credential = exported();
    for (auto const& row : re_signed_tamperings())
        EXPECT_EQ(check_text(resigned(credential, row.edit, row.seed), "2026-06-01T00:00:00Z"), row.reason) << row.name;
}

// Without signing again, any of those edits breaks the proof first.
TEST(CheckCredential, EditsWithoutANewProofBreakTheProof)
{
    Object const credential = exported();
    for (auto const& row : re_signed_tamperings()) {
        Object edited = credential;
        row.edit(edited);
        std::string const name = row.name;
        std::string const expected = name == "a context appended"
            ? "its @context is not the Verifiable Credentials 2.0, Open Badges 3.0 and undefined-terms contexts, nor the "
              "first two alone"
            : name.starts_with("another's credential") ? "its @context does not begin with its proof's @context"
                                                       : "its proof's signature does not match its content";
        EXPECT_EQ(check_text(edited, "2026-06-01T00:00:00Z"), expected) << row.name;
    }
}

TEST(CredentialId, WhatCountsAsACredential)
{
    struct Case {
        char const* text;
        std::string expected;
    };
    std::vector<Case> const cases {
        { R"({"type": ["VerifiableCredential", "OpenBadgeCredential"], "id": "urn:uuid:1"})", "urn:uuid:1" },
        { R"({"type": "VerifiableCredential", "id": "https://example.org/c/1"})", "https://example.org/c/1" },
        { R"([1])", "it is not a JSON object" },
        { R"("VerifiableCredential")", "it is not a JSON object" },
        { R"({"id": "urn:uuid:1"})", "its type does not include VerifiableCredential" },
        { R"({"type": ["OpenBadgeCredential"], "id": "urn:uuid:1"})", "its type does not include VerifiableCredential" },
        { R"({"type": "VerifiableCredential"})", "it has no id" },
        { R"({"type": ["VerifiableCredential"], "id": 7})", "it has no id" },
    };
    for (auto const& row : cases) {
        auto const value = quenmark::json::parse_value(row.text);
        ASSERT_TRUE(value.has_value()) << row.text;
        auto const found = credential_id(*value);
        EXPECT_EQ(found ? *found : found.error(), row.expected) << row.text;
    }
}

} // namespace

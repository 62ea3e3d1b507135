#pragma once

// Certificates: a signed statement that a principal passed a version of an
// assessment, valid until an instant. Issuing from a completion record, the
// signed bytes, the check as of an instant, and the JSON form.

#include "corvella/assessment.h"
#include "corvella/enums.h"
#include "corvella/errors.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvella {

// The signed statement.
struct CertificatePayload {
    CertificationId certificate_id;
    TenantId tenant_id;
    WorkspaceId workspace_id;
    IdentityId principal_id;
    CourseId course_id;
    AssessmentId assessment_id;
    std::uint32_t assessment_version { 0 };
    CompletionRecordId completion_record_id;
    ScoreBand score_band { ScoreBand::Pass };
    quenmark::Timestamp issued_at;
    quenmark::Timestamp expires_at;

    friend bool operator==(CertificatePayload const&, CertificatePayload const&) = default;
};

// A certificate withdrawn by the operator: from revoked_at on it no longer
// verifies. Not covered by the certificate's signature, which stays as issued.
struct Revocation {
    quenmark::Timestamp revoked_at;
    std::string reason;

    friend bool operator==(Revocation const&, Revocation const&) = default;
};

struct Certificate {
    CertificatePayload payload;
    quenmark::Signature signature; // over signing_input(payload)
    // Absent for a certificate never revoked, and then left out of its JSON,
    // so state files without revocations are written exactly as before.
    std::optional<Revocation> revocation {};

    friend bool operator==(Certificate const&, Certificate const&) = default;
};

// Whose certificate it is, and for what: a principal's certificates for one
// assessment, renewed by any later one.
struct Holding {
    IdentityId principal;
    AssessmentId assessment;

    friend bool operator==(Holding const&, Holding const&) = default;
};

Holding holding_of(Certificate const& certificate);

// The bytes that are signed: the canonical JSON of the payload object, and
// nothing else.
[[nodiscard]] quenmark::Expected<std::string, quenmark::ContractError> signing_input(CertificatePayload const& payload);

// Issues a certificate from a completion record. Checks, in order: the record
// matches the assessment's id and current version (CompletionAssessmentMismatch),
// and the validity period is at least one second (NonPositiveValidity).
// expires_at is issued_at moved by the period, kept at whole seconds: where
// the move saturates it is the latest instant the text form can hold
// (9999-12-31T23:59:59Z), so the certificate verifies after being stored and
// read back.
[[nodiscard]] quenmark::Expected<Certificate, TrainingError>
issue_certificate(quenmark::SigningKey const& key, CompletionRecord const& record, AssessmentDefinition const& assessment,
                  quenmark::Timestamp issued_at, std::int64_t validity_seconds);

// The same certificate before it is signed, with the bytes its signature
// covers: issue_certificate() is this, then the signature of `signed_bytes`,
// so that many can be signed together.
struct UnsignedCertificate {
    Certificate certificate;
    std::string signed_bytes;
};
[[nodiscard]] quenmark::Expected<UnsignedCertificate, TrainingError>
certificate_to_sign(CompletionRecord const& record, AssessmentDefinition const& assessment,
                    quenmark::Timestamp issued_at, std::int64_t validity_seconds);

// A revocation made at `revoked_at` for the given reason, stored unchanged.
// Refuses a blank reason (EmptyField "reason") and one that holds a control
// character or a line or paragraph separator (ControlCharacter "reason"),
// since the reason is printed inside one-line results.
[[nodiscard]] quenmark::Expected<Revocation, TrainingValidationError> build_revocation(quenmark::Timestamp revoked_at,
                                                                                       std::string reason);

// The certificate with the revocation recorded; its payload and signature
// stay as issued. AlreadyRevoked, naming the earlier revocation, when it
// carries one.
[[nodiscard]] quenmark::Expected<Certificate, TrainingError> revoke_certificate(Certificate certificate,
                                                                                Revocation revocation);

// Where a certificate stands as of an instant, by its dates and revocation
// alone (check_certificate() adds its signature).
enum class Standing : std::uint8_t {
    Valid,
    // Before its issue instant: only a credential, which says from when it
    // is valid, is refused then; a certificate is not checked against it.
    NotYetValid,
    // Strictly after its expiry instant; valid at that very instant.
    Expired,
    // Revoked at or before the instant; this outranks the dates.
    Revoked,
};

// By the payload's dates only.
Standing standing_as_of(CertificatePayload const& payload, quenmark::Timestamp as_of);
// By the revocation, then the dates.
Standing standing_as_of(Certificate const& certificate, quenmark::Timestamp as_of);

// Stored names of the standings, in the order of the values.
inline constexpr std::array<std::string_view, 4> standing_names { "valid", "not_yet_valid", "expired", "revoked" };
constexpr std::span<std::string_view const> stored_names(Standing) { return standing_names; }

// Where a stored certificate stands for its holder as of an instant: Valid,
// Expired or Revoked. One held before its issue instant counts as valid,
// since it is not checked against that instant.
Standing held_standing(Certificate const& certificate, quenmark::Timestamp as_of);

// Checks, in order: the signature holds over the payload's signing input
// (SignatureInvalid), then the certificate was not revoked at or before
// `as_of` (CertificateRevoked), then it has not expired as of `as_of`
// (CertificateExpired). A forged certificate is reported as such whatever
// else is true of it, and a revoked one as revoked even once it has also
// expired, since the revocation is the more telling fact. A certificate is
// valid at the very instant of its expiry and up to the second before its
// revocation; the issue instant is not checked.
[[nodiscard]] quenmark::Expected<void, TrainingError> check_certificate(Certificate const& certificate,
                                                                        quenmark::VerifyingKey const& key,
                                                                        quenmark::Timestamp as_of);

// JSON form: {"payload": {...eleven members...}, "signature": "<128 hex>"},
// and "revocation": {"revoked_at": ..., "reason": ...} once revoked; payload
// and signature are required; reading checks neither signature nor validity.
void write_json(quenmark::json::Sink& sink, CertificatePayload const& payload);
void write_json(quenmark::json::Sink& sink, Revocation const& revocation);
void write_json(quenmark::json::Sink& sink, Certificate const& certificate);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, CertificatePayload& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Revocation& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Certificate& out);

} // namespace corvella

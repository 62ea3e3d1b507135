#pragma once

// Certificates as credentials that anyone can check: a W3C Verifiable
// Credential 2.0, shaped as an Open Badges 3.0 OpenBadgeCredential, secured
// by an eddsa-jcs-2022 proof under the did:key of the signing key, and
// carrying the certificate itself (payload and original signature) as
// evidence, so that nothing of the certificate is lost. The check needs the
// credential alone: no state, key or audit file.

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/data_integrity.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvella {

inline constexpr std::string_view credentials_context = "https://www.w3.org/ns/credentials/v2";
inline constexpr std::string_view open_badges_context = "https://purl.imsglobal.org/spec/ob/v3p0/context-3.0.3.json";
// The W3C's context for terms that no other context of a credential
// defines, last in @context: the carried certificate's members are this
// tool's own terms. Without it, JSON-LD processing would drop them.
inline constexpr std::string_view undefined_terms_context = "https://www.w3.org/ns/credentials/undefined-terms/v2";

// The credential of a certificate, signed with the key at `created`:
// "@context" the three contexts above, in that order; "id" "urn:uuid:" + certificate id;
// "type" VerifiableCredential and OpenBadgeCredential; "name" the
// assessment's title; "issuer" a Profile whose id is the key's did:key;
// "validFrom" and "validUntil" the certificate's issued_at and expires_at;
// "credentialSubject" the learner ("urn:uuid:" + principal id) with the
// achievement (the assessment: its "urn:uuid:" id, title, version and
// passing rule, and the score bands it awards) and the result (the score
// band); "evidence" the certificate's payload and signature; and the proof.
// Only a certificate that still stands is exported: one whose signature does
// not hold under the key fails with SignatureInvalid, and a revoked one with
// CertificateRevoked; an expired one is exported (its credential says until
// when it was valid). Contract when the credential has no RFC 8785 form,
// which the tool's own records cannot cause.
[[nodiscard]] quenmark::Expected<quenmark::json::Object, TrainingError>
certificate_credential(Certificate const& certificate, AssessmentDefinition const& assessment,
                       quenmark::SigningKey const& key, quenmark::Timestamp created);

// The credential's id, when the document is a credential at all: a JSON
// object whose "type" names VerifiableCredential and whose "id" is a string.
// Otherwise why it is not: "it is not a JSON object", "its type does not
// include VerifiableCredential" or "it has no id".
[[nodiscard]] quenmark::Expected<std::string, std::string> credential_id(quenmark::json::Value const& document);

// Why a credential does not verify. The texts speak of the credential as
// "it", to follow "... does not verify: ".
class CredentialError {
public:
    enum class Kind : std::uint8_t {
        Proof,
        WrongContext,
        IssuerMismatch,
        NoCertificate,
        UnreadableCertificate,
        CertificateSignature,
        Mismatch,
        NotYetValid,
        Expired,
    };

    static CredentialError proof(quenmark::ProofError error);
    static CredentialError wrong_context();
    static CredentialError issuer_mismatch();
    // Its proof verifies, but it carries no certificate of this tool.
    static CredentialError no_certificate();
    // The reader's message, without a position in a text the user never saw.
    static CredentialError unreadable_certificate(std::string message);
    static CredentialError certificate_signature();
    // `member` is the path of the member that disagrees with the certificate
    // it carries, such as "validFrom" or "credentialSubject.id".
    static CredentialError mismatch(std::string member);
    static CredentialError not_yet_valid(quenmark::Timestamp valid_from);
    static CredentialError expired(quenmark::Timestamp valid_until);

    Kind kind() const { return m_kind; }
    std::string text() const;

    friend bool operator==(CredentialError const&, CredentialError const&) = default;

private:
    explicit CredentialError(Kind kind) : m_kind(kind) { }

    Kind m_kind;
    std::optional<quenmark::ProofError> m_proof;
    std::string m_detail; // the reader's message or the member's path
    quenmark::Timestamp m_instant {};
};

// What a credential that verifies vouches for.
struct CheckedCredential {
    std::string issuer; // the did:key that signed it
    Certificate certificate;
};

// Checks a credential as of an instant, in this order, the first failure
// being the reason: its proof (quenmark::verify_proof); a certificate
// carried as evidence, without which it is not a credential of this tool at
// all; its @context exactly the three contexts above, or the first two
// alone as the tool's first release exported them, so no context is added
// after signing; its issuer the did:key that made the proof; the
// certificate it carries, readable and signed by that same key; its id,
// validFrom, validUntil, the
// learner's id and the achievement's id, version and score band equal to the
// certificate's; and `as_of` not before validFrom and not after validUntil
// (it is valid at both ends).
[[nodiscard]] quenmark::Expected<CheckedCredential, CredentialError> check_credential(quenmark::json::Object const& credential,
                                                                                      quenmark::Timestamp as_of);

} // namespace corvella

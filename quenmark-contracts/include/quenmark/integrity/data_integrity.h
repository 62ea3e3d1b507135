#pragma once

// Data Integrity proofs of the eddsa-jcs-2022 cryptosuite over JSON
// documents, as the W3C's EdDSA cryptosuites define them. A document is
// secured by a `proof` member: the proof options (type DataIntegrityProof,
// cryptosuite eddsa-jcs-2022, created, verificationMethod, proofPurpose and
// the document's @context) and a proofValue, "z" + base58btc of the Ed25519
// signature over SHA-256(JCS(proof options)) ‖ SHA-256(JCS(the document
// without its proof)), JCS being RFC 8785. The key is named by a did:key, so
// anyone can check the proof with the document alone.

#include "quenmark/errors/contract_error.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenmark {

inline constexpr std::string_view data_integrity_proof = "DataIntegrityProof";
inline constexpr std::string_view eddsa_jcs_2022 = "eddsa-jcs-2022";
// The purpose of a credential's proof: its issuer asserts what it says.
inline constexpr std::string_view assertion_method = "assertionMethod";

// "did:key:" + multikey + "#" + multikey: the key's verification method.
std::string did_key_verification_method(VerifyingKey const& key);

// What the signer chooses of a proof; its type and cryptosuite are fixed.
struct ProofOptions {
    Timestamp created;
    std::string verification_method;
    std::string proof_purpose { assertion_method };
};

// The proof options as the object that is signed, members in this order:
// type, cryptosuite, created, verificationMethod, proofPurpose, and @context
// (the document's) when the document has one.
json::Object proof_configuration(json::Object const& document, ProofOptions const& options);

// The document with a `proof` member added at its end: the proof
// configuration followed by its proofValue. The key must be the one the
// verification method names. Fails with CanonicalSerialization when the
// document has no RFC 8785 form (a floating-point number, an integer beyond
// 2^53 - 1, two equal keys), and with ValidationFailed "the document already
// has a proof" when it has one.
[[nodiscard]] Expected<json::Object, ContractError> add_proof(json::Object document, ProofOptions const& options,
                                                              SigningKey const& key);

// Why a proof does not hold. The texts speak of the document as "it", to
// follow "... does not verify: ".
class ProofError {
public:
    enum class Kind : std::uint8_t {
        NoProof,
        NotOneProof,
        WrongType,
        WrongCryptosuite,
        WrongPurpose,
        BadCreated,
        BadVerificationMethod,
        BadProofValue,
        ContextMismatch,
        NotCanonical,
        SignatureMismatch,
    };

    // Any kind but NotCanonical, which carries its reason.
    static ProofError of(Kind kind);
    static ProofError not_canonical(ContractError error);

    Kind kind() const { return m_kind; }
    std::string text() const;

    friend bool operator==(ProofError const&, ProofError const&) = default;

private:
    explicit ProofError(Kind kind) : m_kind(kind) { }

    Kind m_kind;
    std::optional<ContractError> m_reason;
};

// What a proof that holds tells: the key that made it, and the verification
// method and creation instant it names.
struct VerifiedProof {
    VerifyingKey key;
    std::string verification_method;
    std::optional<Timestamp> created;
};

// Checks the proof of a secured document, in this order: one `proof`
// object; its type, cryptosuite and purpose (assertionMethod); its created,
// when present, an RFC 3339 date-time; its verification method a did:key
// whose fragment repeats the key; its proofValue "z" + base58btc of 64
// bytes; when the proof carries an @context, the document's @context begins
// with its values in the same order (the document is then checked under the
// proof's @context); and the signature over the hashes of both JCS forms.
// Every member of the proof but proofValue is covered by the signature.
[[nodiscard]] Expected<VerifiedProof, ProofError> verify_proof(json::Object const& secured);

} // namespace quenmark

#include "quenmark/integrity/data_integrity.h"

#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/text/encoding.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quenmark {

namespace {

constexpr std::string_view did_key_prefix = "did:key:";

using json::Array;
using json::Object;
using json::Value;

// Sets a member where it stands, or adds it at the end: the proof options
// keep the order their members were given in.
void put_member(Object& object, std::string_view name, Value value)
{
    for (auto& [key, member] : object) {
        if (key == name) {
            member = std::move(value);
            return;
        }
    }
    object.emplace_back(std::string(name), std::move(value));
}

void remove_member(Object& object, std::string_view name)
{
    std::erase_if(object, [name](auto const& member) { return member.first == name; });
}

std::string const* string_member(Object const& object, std::string_view name)
{
    Value const* value = json::find_member(object, name);
    return value != nullptr ? std::get_if<std::string>(&value->data) : nullptr;
}

// A JSON-LD @context as the list of its values: a single value is a list of one.
std::vector<Value> context_values(Value const* context)
{
    if (context == nullptr)
        return {};
    if (auto const* array = std::get_if<Array>(&context->data))
        return *array;
    return { *context };
}

// SHA-256(JCS(proof configuration)) followed by SHA-256(JCS(document)): the
// 64 bytes that are signed.
[[nodiscard]] Expected<std::array<std::uint8_t, 64>, ContractError> hash_data(Object const& configuration, Object const& document)
{
    std::string const configuration_bytes = TRY(json::jcs_bytes(Value(configuration)));
    std::string const document_bytes = TRY(json::jcs_bytes(Value(document)));
    auto const configuration_hash = sha256(configuration_bytes);
    auto const document_hash = sha256(document_bytes);
    std::array<std::uint8_t, 64> data {};
    std::copy(configuration_hash.begin(), configuration_hash.end(), data.begin());
    std::copy(document_hash.begin(), document_hash.end(), data.begin() + 32);
    return data;
}

// The key of "did:key:<multikey>#<the same multikey>".
std::optional<VerifyingKey> key_of_verification_method(std::string_view method)
{
    auto const hash = method.find('#');
    if (hash == std::string_view::npos || !method.starts_with(did_key_prefix))
        return std::nullopt;
    std::string_view const did_multikey = method.substr(did_key_prefix.size(), hash - did_key_prefix.size());
    if (method.substr(hash + 1) != did_multikey)
        return std::nullopt;
    return key_of_multikey(did_multikey);
}

std::optional<Signature> signature_of_proof_value(std::string_view text)
{
    if (!text.starts_with('z'))
        return std::nullopt;
    auto const bytes = base58btc_decode(text.substr(1));
    if (!bytes || bytes->size() != signature_size)
        return std::nullopt;
    Signature signature;
    std::copy(bytes->begin(), bytes->end(), signature.bytes.begin());
    return signature;
}

} // namespace

std::string did_key_verification_method(VerifyingKey const& key)
{
    std::string const key_text = multikey(key);
    return std::string(did_key_prefix) + key_text + "#" + key_text;
}

Object proof_configuration(Object const& document, ProofOptions const& options)
{
    Object configuration {
        { "type", Value(std::string(data_integrity_proof)) },
        { "cryptosuite", Value(std::string(eddsa_jcs_2022)) },
        { "created", Value(options.created.to_text()) },
        { "verificationMethod", Value(options.verification_method) },
        { "proofPurpose", Value(options.proof_purpose) },
    };
    if (Value const* context = json::find_member(document, "@context"))
        configuration.emplace_back("@context", *context);
    return configuration;
}

Expected<Object, ContractError> add_proof(Object document, ProofOptions const& options, SigningKey const& key)
{
    if (json::find_member(document, "proof") != nullptr)
        return unexpected(ContractError::validation_failed("the document already has a proof"));
    Object proof = proof_configuration(document, options);
    auto const data = TRY(hash_data(proof, document));
    Signature const signature = key.sign(std::span<std::uint8_t const>(data));
    proof.emplace_back("proofValue", Value("z" + base58btc_encode(signature.bytes)));
    document.emplace_back("proof", Value(std::move(proof)));
    return document;
}

ProofError ProofError::of(Kind kind) { return ProofError(kind); }

ProofError ProofError::not_canonical(ContractError error)
{
    ProofError result(Kind::NotCanonical);
    result.m_reason = std::move(error);
    return result;
}

std::string ProofError::text() const
{
    switch (m_kind) {
    case Kind::NoProof:
        return "it has no proof";
    case Kind::NotOneProof:
        return "its proof is not one object";
    case Kind::WrongType:
        return "its proof is not a DataIntegrityProof";
    case Kind::WrongCryptosuite:
        return "its proof's cryptosuite is not eddsa-jcs-2022";
    case Kind::WrongPurpose:
        return "its proof's purpose is not assertionMethod";
    case Kind::BadCreated:
        return "its proof's created is not an RFC 3339 date-time";
    case Kind::BadVerificationMethod:
        return "its proof's verification method is not an Ed25519 did:key";
    case Kind::BadProofValue:
        return "its proof's proofValue is not a base58btc Ed25519 signature";
    case Kind::ContextMismatch:
        return "its @context does not begin with its proof's @context";
    case Kind::NotCanonical:
        return m_reason ? m_reason->text() : std::string("it has no RFC 8785 form");
    case Kind::SignatureMismatch:
        return "its proof's signature does not match its content";
    }
    __builtin_unreachable();
}

Expected<VerifiedProof, ProofError> verify_proof(Object const& secured)
{
    auto const fail = [](ProofError::Kind kind) { return unexpected(ProofError::of(kind)); };
    Value const* proof_value = json::find_member(secured, "proof");
    if (proof_value == nullptr)
        return fail(ProofError::Kind::NoProof);
    auto const* proof = std::get_if<Object>(&proof_value->data);
    if (proof == nullptr)
        return fail(ProofError::Kind::NotOneProof);

    // The proof options are the proof without its value; the document
    // checked is the secured one without its proof.
    Object options = *proof;
    remove_member(options, "proofValue");
    Object document = secured;
    remove_member(document, "proof");

    std::string const* type = string_member(options, "type");
    if (type == nullptr || *type != data_integrity_proof)
        return fail(ProofError::Kind::WrongType);
    std::string const* cryptosuite = string_member(options, "cryptosuite");
    if (cryptosuite == nullptr || *cryptosuite != eddsa_jcs_2022)
        return fail(ProofError::Kind::WrongCryptosuite);
    std::string const* purpose = string_member(options, "proofPurpose");
    if (purpose == nullptr || *purpose != assertion_method)
        return fail(ProofError::Kind::WrongPurpose);

    VerifiedProof verified;
    if (json::find_member(options, "created") != nullptr) {
        std::string const* created = string_member(options, "created");
        if (created == nullptr)
            return fail(ProofError::Kind::BadCreated);
        auto const instant = Timestamp::parse(*created);
        if (!instant)
            return fail(ProofError::Kind::BadCreated);
        verified.created = *instant;
    }
    std::string const* method = string_member(options, "verificationMethod");
    auto const key = method != nullptr ? key_of_verification_method(*method) : std::nullopt;
    if (!key)
        return fail(ProofError::Kind::BadVerificationMethod);
    verified.key = *key;
    verified.verification_method = *method;
    std::string const* proof_text = string_member(*proof, "proofValue");
    auto const signature = proof_text != nullptr ? signature_of_proof_value(*proof_text) : std::nullopt;
    if (!signature)
        return fail(ProofError::Kind::BadProofValue);

    // A proof that names an @context vouches for the document under that
    // context: the document's must begin with it, and the document is
    // checked with the proof's.
    if (Value const* proof_context = json::find_member(options, "@context")) {
        auto const required = context_values(proof_context);
        auto const present = context_values(json::find_member(document, "@context"));
        if (present.size() < required.size() || !std::equal(required.begin(), required.end(), present.begin()))
            return fail(ProofError::Kind::ContextMismatch);
        put_member(document, "@context", *proof_context);
    }
    if (Value const* context = json::find_member(document, "@context"))
        put_member(options, "@context", *context);

    auto const data = hash_data(options, document);
    if (!data)
        return unexpected(ProofError::not_canonical(data.error()));
    std::string_view const message(reinterpret_cast<char const*>(data->data()), data->size());
    if (!verify_bytes(*key, message, *signature))
        return fail(ProofError::Kind::SignatureMismatch);
    return verified;
}

} // namespace quenmark

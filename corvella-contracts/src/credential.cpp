#include "corvella/credential.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace corvella {

namespace {

using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;

constexpr std::string_view urn_uuid = "urn:uuid:";
// Where the achievement describes its score bands, and the result refers to it.
constexpr std::string_view score_band_fragment = "#score-band";

template<typename Id>
std::string urn_of(Id const& id)
{
    std::string text(urn_uuid);
    id.append_to(text);
    return text;
}

Value strings(std::initializer_list<std::string_view> texts)
{
    Array array;
    array.reserve(texts.size());
    for (std::string_view const text : texts)
        array.emplace_back(std::string(text));
    return Value(std::move(array));
}

// The certificate's JSON (payload and signature) as a value, members in
// their stored order.
Value certificate_value(Certificate const& certificate)
{
    std::string text;
    quenmark::json::PrettyWriter writer(text);
    write_json(writer, certificate);
    auto value = quenmark::json::parse_value(text);
    if (!value)
        quenmark::fail_internal("a certificate's own JSON could not be read back: " + value.error());
    return std::move(*value);
}

Object achievement_of(CertificatePayload const& payload, AssessmentDefinition const& assessment)
{
    std::string const version = quenmark::decimal(std::uint64_t { payload.assessment_version });
    std::string const total = quenmark::decimal(std::uint64_t { assessment.passing_rule.total_questions });
    std::string const narrative = "Pass the assessment: at least "
        + quenmark::decimal(std::uint64_t { assessment.passing_rule.min_correct }) + " of its " + total
        + " questions answered correctly (Distinction: all " + total + ")";
    return Object {
        { "id", Value(urn_of(payload.assessment_id)) },
        { "type", strings({ "Achievement" }) },
        { "achievementType", Value("Assessment") },
        { "name", Value(assessment.title) },
        { "description", Value("Passed version " + version + " of the assessment \"" + assessment.title + "\"") },
        { "criteria", Value(Object { { "narrative", Value(narrative) } }) },
        { "version", Value(version) },
        { "resultDescription",
          Value(Array { Value(Object {
              { "id", Value(urn_of(payload.assessment_id) + std::string(score_band_fragment)) },
              { "type", strings({ "ResultDescription" }) },
              { "name", Value("Score band") },
              { "resultType", Value("LetterGrade") },
              { "allowedValue", strings({ display_name(ScoreBand::Pass), display_name(ScoreBand::Distinction) }) },
          }) }) },
    };
}

// The member at a path of member names and array indices; null when any step is missing.
Value const* at_path(Object const& root, std::span<std::string_view const> path)
{
    Value const* current = nullptr;
    Object const* object = &root;
    Array const* array = nullptr;
    for (std::string_view const step : path) {
        if (object != nullptr) {
            current = quenmark::json::find_member(*object, step);
        } else if (array != nullptr && step.size() == 1 && step[0] >= '0' && step[0] <= '9') {
            auto const index = static_cast<std::size_t>(step[0] - '0');
            current = index < array->size() ? &(*array)[index] : nullptr;
        } else {
            current = nullptr;
        }
        if (current == nullptr)
            return nullptr;
        object = std::get_if<Object>(&current->data);
        array = std::get_if<Array>(&current->data);
    }
    return current;
}

std::string const* string_at(Object const& root, std::initializer_list<std::string_view> path)
{
    Value const* value = at_path(root, std::span(path.begin(), path.size()));
    return value != nullptr ? std::get_if<std::string>(&value->data) : nullptr;
}

// The issuer's id: the issuer itself when it is a string, else its "id".
std::string const* issuer_id(Object const& credential)
{
    if (std::string const* issuer = string_at(credential, { "issuer" }))
        return issuer;
    return string_at(credential, { "issuer", "id" });
}

// The first evidence entry that carries a certificate; evidence may be one
// object or a list of them.
Value const* carried_certificate(Object const& credential)
{
    Value const* evidence = quenmark::json::find_member(credential, "evidence");
    if (evidence == nullptr)
        return nullptr;
    if (auto const* entry = std::get_if<Object>(&evidence->data))
        return quenmark::json::find_member(*entry, "certificate");
    if (auto const* entries = std::get_if<Array>(&evidence->data)) {
        for (Value const& item : *entries) {
            if (auto const* entry = std::get_if<Object>(&item.data)) {
                if (Value const* certificate = quenmark::json::find_member(*entry, "certificate"))
                    return certificate;
            }
        }
    }
    return nullptr;
}

// Reads the carried certificate with the state file's own reader. The value
// is written out and read back; the reader's position refers to that text,
// which the user never saw, so it is dropped from the message.
[[nodiscard]] quenmark::Expected<Certificate, CredentialError> read_certificate(Value const& value)
{
    std::string text;
    quenmark::json::PrettyWriter writer(text);
    if (auto const written = quenmark::json::write_tree(writer, value); !written)
        return quenmark::unexpected(CredentialError::unreadable_certificate(written.error().text()));
    Certificate certificate;
    auto const read = quenmark::json::read_document(
        text, [&](quenmark::json::ValueReader& reader) { return read_json(reader, certificate); });
    if (!read) {
        std::string message = read.error();
        if (auto const position = message.rfind(" at line "); position != std::string::npos)
            message.resize(position);
        return quenmark::unexpected(CredentialError::unreadable_certificate(std::move(message)));
    }
    return certificate;
}

} // namespace

quenmark::Expected<Object, TrainingError> certificate_credential(Certificate const& certificate,
                                                                 AssessmentDefinition const& assessment,
                                                                 quenmark::SigningKey const& key,
                                                                 quenmark::Timestamp created)
{
    CertificatePayload const& payload = certificate.payload;
    quenmark::VerifyingKey const verifying_key = key.verifying_key();
    auto const signed_bytes = signing_input(payload);
    if (!signed_bytes || !quenmark::verify_bytes(verifying_key, *signed_bytes, certificate.signature))
        return quenmark::unexpected(TrainingError::signature_invalid(payload.certificate_id));
    if (auto const& revocation = certificate.revocation) {
        return quenmark::unexpected(
            TrainingError::certificate_revoked(payload.certificate_id, revocation->revoked_at, revocation->reason));
    }

    std::string const band_description = urn_of(payload.assessment_id) + std::string(score_band_fragment);
    Object credential {
        { "@context", strings({ credentials_context, open_badges_context, undefined_terms_context }) },
        { "id", Value(urn_of(payload.certificate_id)) },
        { "type", strings({ "VerifiableCredential", "OpenBadgeCredential" }) },
        { "name", Value(assessment.title) },
        { "issuer", Value(Object { { "id", Value(quenmark::did_key(verifying_key)) }, { "type", strings({ "Profile" }) } }) },
        { "validFrom", Value(payload.issued_at.to_text()) },
        { "validUntil", Value(payload.expires_at.to_text()) },
        { "credentialSubject",
          Value(Object {
              { "id", Value(urn_of(payload.principal_id)) },
              { "type", strings({ "AchievementSubject" }) },
              { "achievement", Value(achievement_of(payload, assessment)) },
              { "result",
                Value(Array { Value(Object {
                    { "type", strings({ "Result" }) },
                    { "resultDescription", Value(band_description) },
                    { "value", Value(std::string(display_name(payload.score_band))) },
                }) }) },
          }) },
        { "evidence",
          Value(Array { Value(Object {
              { "type", strings({ "Evidence" }) },
              { "name", Value("Signed certificate") },
              { "description",
                Value("The certificate as it was issued: its payload, and the Ed25519 signature (hex) over the "
                      "payload's canonical JSON made with the issuer's key") },
              { "certificate", certificate_value(certificate) },
          }) }) },
    };
    quenmark::ProofOptions const options {
        .created = created,
        .verification_method = quenmark::did_key_verification_method(verifying_key),
    };
    auto secured = quenmark::add_proof(std::move(credential), options, key);
    if (!secured)
        return quenmark::unexpected(TrainingError::contract(std::move(secured).error()));
    return std::move(*secured);
}

quenmark::Expected<std::string, std::string> credential_id(Value const& document)
{
    auto const* object = std::get_if<Object>(&document.data);
    if (object == nullptr)
        return quenmark::unexpected(std::string("it is not a JSON object"));
    bool names_credential = false;
    if (Value const* type = quenmark::json::find_member(*object, "type")) {
        if (auto const* text = std::get_if<std::string>(&type->data))
            names_credential = *text == "VerifiableCredential";
        if (auto const* types = std::get_if<Array>(&type->data)) {
            for (Value const& entry : *types)
                names_credential = names_credential || entry == Value("VerifiableCredential");
        }
    }
    if (!names_credential)
        return quenmark::unexpected(std::string("its type does not include VerifiableCredential"));
    std::string const* id = string_at(*object, { "id" });
    if (id == nullptr)
        return quenmark::unexpected(std::string("it has no id"));
    return *id;
}

CredentialError CredentialError::proof(quenmark::ProofError error)
{
    CredentialError result(Kind::Proof);
    result.m_proof = std::move(error);
    return result;
}

CredentialError CredentialError::wrong_context() { return CredentialError(Kind::WrongContext); }
CredentialError CredentialError::issuer_mismatch() { return CredentialError(Kind::IssuerMismatch); }
CredentialError CredentialError::no_certificate() { return CredentialError(Kind::NoCertificate); }
CredentialError CredentialError::certificate_signature() { return CredentialError(Kind::CertificateSignature); }

CredentialError CredentialError::unreadable_certificate(std::string message)
{
    CredentialError result(Kind::UnreadableCertificate);
    result.m_detail = std::move(message);
    return result;
}

CredentialError CredentialError::mismatch(std::string member)
{
    CredentialError result(Kind::Mismatch);
    result.m_detail = std::move(member);
    return result;
}

CredentialError CredentialError::not_yet_valid(quenmark::Timestamp valid_from)
{
    CredentialError result(Kind::NotYetValid);
    result.m_instant = valid_from;
    return result;
}

CredentialError CredentialError::expired(quenmark::Timestamp valid_until)
{
    CredentialError result(Kind::Expired);
    result.m_instant = valid_until;
    return result;
}

std::string CredentialError::text() const
{
    switch (m_kind) {
    case Kind::Proof:
        return m_proof ? m_proof->text() : std::string("its proof does not hold");
    case Kind::WrongContext:
        return "its @context is not the Verifiable Credentials 2.0, Open Badges 3.0 and undefined-terms contexts, "
               "nor the first two alone";
    case Kind::IssuerMismatch:
        return "its issuer is not the did:key that signed it";
    case Kind::NoCertificate:
        return "its proof verifies, but it carries no certificate issued by corvellactl";
    case Kind::UnreadableCertificate:
        return "the certificate it carries cannot be read: " + m_detail;
    case Kind::CertificateSignature:
        return "the certificate it carries does not verify under its issuer's key";
    case Kind::Mismatch:
        return "its " + m_detail + " does not match the certificate it carries";
    case Kind::NotYetValid:
        return "it is not valid before " + m_instant.to_text();
    case Kind::Expired:
        return "it expired at " + m_instant.to_text();
    }
    __builtin_unreachable();
}

quenmark::Expected<CheckedCredential, CredentialError> check_credential(Object const& credential,
                                                                        quenmark::Timestamp as_of)
{
    auto const fail = [](CredentialError error) { return quenmark::unexpected(std::move(error)); };
    auto proof = quenmark::verify_proof(credential);
    if (!proof)
        return fail(CredentialError::proof(std::move(proof).error()));

    // Anyone's credential can have a proof that holds; only one that carries
    // a certificate is this tool's.
    Value const* carried = carried_certificate(credential);
    if (carried == nullptr)
        return fail(CredentialError::no_certificate());

    // The proof allows contexts appended after the ones it names; a
    // credential of this tool has exactly its three, or the first two as
    // the tool's first release exported them.
    Value const* context = quenmark::json::find_member(credential, "@context");
    if (context == nullptr
        || (*context != strings({ credentials_context, open_badges_context, undefined_terms_context })
            && *context != strings({ credentials_context, open_badges_context })))
        return fail(CredentialError::wrong_context());

    std::string const issuer(proof->verification_method.substr(0, proof->verification_method.find('#')));
    std::string const* named_issuer = issuer_id(credential);
    if (named_issuer == nullptr || *named_issuer != issuer)
        return fail(CredentialError::issuer_mismatch());

    Certificate certificate = TRY(read_certificate(*carried));
    CertificatePayload const& payload = certificate.payload;
    auto const signed_bytes = signing_input(payload);
    if (!signed_bytes || !quenmark::verify_bytes(proof->key, *signed_bytes, certificate.signature))
        return fail(CredentialError::certificate_signature());

    // The members that restate the certificate, by their paths (member
    // names and array indices joined by "."), and what the certificate says.
    std::pair<std::string_view, std::string> const agreements[] = {
        { "id", urn_of(payload.certificate_id) },
        { "validFrom", payload.issued_at.to_text() },
        { "validUntil", payload.expires_at.to_text() },
        { "credentialSubject.id", urn_of(payload.principal_id) },
        { "credentialSubject.achievement.id", urn_of(payload.assessment_id) },
        { "credentialSubject.achievement.version", quenmark::decimal(std::uint64_t { payload.assessment_version }) },
        { "credentialSubject.result.0.value", std::string(display_name(payload.score_band)) },
    };
    for (auto const& [member, expected] : agreements) {
        std::vector<std::string_view> path;
        for (std::size_t start = 0; start <= member.size();) {
            std::size_t const end = std::min(member.find('.', start), member.size());
            path.push_back(member.substr(start, end - start));
            start = end + 1;
        }
        Value const* found = at_path(credential, path);
        auto const* text = found != nullptr ? std::get_if<std::string>(&found->data) : nullptr;
        if (text == nullptr || *text != expected)
            return fail(CredentialError::mismatch(std::string(member)));
    }

    switch (standing_as_of(payload, as_of)) {
    case Standing::NotYetValid:
        return fail(CredentialError::not_yet_valid(payload.issued_at));
    case Standing::Expired:
        return fail(CredentialError::expired(payload.expires_at));
    case Standing::Revoked: // by the dates alone, never
    case Standing::Valid:
        break;
    }
    return CheckedCredential { issuer, std::move(certificate) };
}

} // namespace corvella

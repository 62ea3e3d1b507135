#include "corvella/certificate.h"

#include "identifier_json.h"

#include "quenmark/text/text.h"

#include <string_view>
#include <utility>

namespace corvella {

namespace {

using quenmark::json::member;

constexpr auto payload_members = quenmark::json::members(
    member<&CertificatePayload::certificate_id>("certificate_id"),
    member<&CertificatePayload::tenant_id>("tenant_id"),
    member<&CertificatePayload::workspace_id>("workspace_id"),
    member<&CertificatePayload::principal_id>("principal_id"),
    member<&CertificatePayload::course_id>("course_id"),
    member<&CertificatePayload::assessment_id>("assessment_id"),
    member<&CertificatePayload::assessment_version>("assessment_version"),
    member<&CertificatePayload::completion_record_id>("completion_record_id"),
    member<&CertificatePayload::score_band>("score_band"),
    member<&CertificatePayload::issued_at>("issued_at"),
    member<&CertificatePayload::expires_at>("expires_at"));

constexpr auto revocation_members = quenmark::json::members(
    member<&Revocation::revoked_at>("revoked_at"),
    member<&Revocation::reason>("reason"));

constexpr auto certificate_members = quenmark::json::members(
    member<&Certificate::payload>("payload"),
    member<&Certificate::signature>("signature"),
    member<&Certificate::revocation, quenmark::json::Absent::Omitted>("revocation"));

// The instant `seconds` after `start`, at whole seconds. Moving past the end
// of the calendar saturates at a maximum that carries a fraction of a second;
// the stored text form keeps that fraction but reading drops it, so a
// certificate expiring there would no longer match its own signature.
quenmark::Timestamp expiry_after(quenmark::Timestamp start, std::int64_t seconds)
{
    quenmark::Timestamp const expiry = start.plus_seconds(seconds);
    if (expiry.nanoseconds() == 0)
        return expiry;
    return quenmark::Timestamp::from_unix_seconds(expiry.unix_seconds());
}

// Whether the text holds a C0 or C1 control character, DEL, or U+2028 or
// U+2029, each of which can break a line where the text is printed.
bool has_line_breaking_character(std::string_view text)
{
    for (std::size_t index = 0; index < text.size(); ++index) {
        auto const byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x20 || byte == 0x7f)
            return true;
        auto const next = index + 1 < text.size() ? static_cast<unsigned char>(text[index + 1]) : 0U;
        if (byte == 0xc2 && next >= 0x80 && next <= 0x9f)
            return true;
        if (byte == 0xe2 && next == 0x80 && index + 2 < text.size()) {
            auto const last = static_cast<unsigned char>(text[index + 2]);
            if (last == 0xa8 || last == 0xa9)
                return true;
        }
    }
    return false;
}

} // namespace

Holding holding_of(Certificate const& certificate)
{
    return { certificate.payload.principal_id, certificate.payload.assessment_id };
}

quenmark::Expected<std::string, quenmark::ContractError> signing_input(CertificatePayload const& payload)
{
    std::string bytes;
    quenmark::json::append_canonical_bytes(payload_members, payload, bytes);
    return bytes;
}

quenmark::Expected<Certificate, TrainingError> issue_certificate(quenmark::SigningKey const& key,
                                                                 CompletionRecord const& record,
                                                                 AssessmentDefinition const& assessment,
                                                                 quenmark::Timestamp issued_at,
                                                                 std::int64_t validity_seconds)
{
    auto issued = TRY(certificate_to_sign(record, assessment, issued_at, validity_seconds));
    issued.certificate.signature = key.sign(std::string_view(issued.signed_bytes));
    return std::move(issued.certificate);
}

quenmark::Expected<UnsignedCertificate, TrainingError> certificate_to_sign(CompletionRecord const& record,
                                                                          AssessmentDefinition const& assessment,
                                                                          quenmark::Timestamp issued_at,
                                                                          std::int64_t validity_seconds)
{
    if (record.assessment_id != assessment.id || record.assessment_version != assessment.version)
        return quenmark::unexpected(TrainingError::completion_assessment_mismatch(assessment.id, assessment.version));
    if (validity_seconds < 1)
        return quenmark::unexpected(TrainingError::non_positive_validity(validity_seconds));

    CertificatePayload payload {
        .certificate_id = CertificationId::mint(),
        .tenant_id = record.tenant_id,
        .workspace_id = record.workspace_id,
        .principal_id = record.principal_id,
        .course_id = assessment.course_id,
        .assessment_id = record.assessment_id,
        .assessment_version = record.assessment_version,
        .completion_record_id = record.id,
        .score_band = record.score_band,
        .issued_at = issued_at,
        .expires_at = expiry_after(issued_at, validity_seconds),
    };
    auto bytes = signing_input(payload);
    if (!bytes)
        return quenmark::unexpected(TrainingError::contract(std::move(bytes).error()));
    return UnsignedCertificate { Certificate { std::move(payload), {}, std::nullopt }, std::move(*bytes) };
}

quenmark::Expected<void, TrainingError> check_certificate(Certificate const& certificate,
                                                          quenmark::VerifyingKey const& key, quenmark::Timestamp as_of)
{
    CertificatePayload const& payload = certificate.payload;
    auto bytes = signing_input(payload);
    if (!bytes || !quenmark::verify_bytes(key, *bytes, certificate.signature))
        return quenmark::unexpected(TrainingError::signature_invalid(payload.certificate_id));
    switch (standing_as_of(certificate, as_of)) {
    case Standing::Revoked:
        return quenmark::unexpected(TrainingError::certificate_revoked(
            payload.certificate_id, certificate.revocation->revoked_at, certificate.revocation->reason));
    case Standing::Expired:
        return quenmark::unexpected(TrainingError::certificate_expired(payload.certificate_id, payload.expires_at));
    case Standing::NotYetValid:
    case Standing::Valid:
        return {};
    }
    __builtin_unreachable();
}

Standing standing_as_of(CertificatePayload const& payload, quenmark::Timestamp as_of)
{
    if (as_of < payload.issued_at)
        return Standing::NotYetValid;
    if (payload.expires_at < as_of)
        return Standing::Expired;
    return Standing::Valid;
}

Standing standing_as_of(Certificate const& certificate, quenmark::Timestamp as_of)
{
    if (auto const& revocation = certificate.revocation; revocation && revocation->revoked_at <= as_of)
        return Standing::Revoked;
    return standing_as_of(certificate.payload, as_of);
}

Standing held_standing(Certificate const& certificate, quenmark::Timestamp as_of)
{
    Standing const standing = standing_as_of(certificate, as_of);
    return standing == Standing::NotYetValid ? Standing::Valid : standing;
}

quenmark::Expected<Revocation, TrainingValidationError> build_revocation(quenmark::Timestamp revoked_at,
                                                                         std::string reason)
{
    if (quenmark::is_blank(reason))
        return quenmark::unexpected(TrainingValidationError::empty_field(TextField::Reason));
    if (has_line_breaking_character(reason))
        return quenmark::unexpected(TrainingValidationError::control_character(TextField::Reason));
    return Revocation { revoked_at, std::move(reason) };
}

quenmark::Expected<Certificate, TrainingError> revoke_certificate(Certificate certificate, Revocation revocation)
{
    if (auto const& earlier = certificate.revocation) {
        return quenmark::unexpected(
            TrainingError::already_revoked(certificate.payload.certificate_id, earlier->revoked_at, earlier->reason));
    }
    certificate.revocation = std::move(revocation);
    return certificate;
}

void write_json(quenmark::json::Sink& sink, CertificatePayload const& payload)
{
    quenmark::json::write_members(sink, payload_members, payload);
}

void write_json(quenmark::json::Sink& sink, Revocation const& revocation)
{
    quenmark::json::write_members(sink, revocation_members, revocation);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Revocation& out)
{
    return quenmark::json::read_members(reader, revocation_members, out);
}

void write_json(quenmark::json::Sink& sink, Certificate const& certificate)
{
    quenmark::json::write_members(sink, certificate_members, certificate);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, CertificatePayload& out)
{
    return quenmark::json::read_members(reader, payload_members, out);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Certificate& out)
{
    return quenmark::json::read_members(reader, certificate_members, out);
}

} // namespace corvella

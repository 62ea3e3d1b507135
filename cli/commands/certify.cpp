#include "command.h"
#include "commands/learner_changes.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/lock.h"
#include "store/key_file.h"
#include "store/records.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"

#include <memory>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

class Certify final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--completion-id", m_completion_id, { .value_name = "COMPLETION_ID", .required = true });
        declaration.integer("--validity-days", m_validity_days, { .value_name = "VALIDITY_DAYS", .default_value = "365" });
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        Records records(store);
        auto const source = TRY(certification_source(records, m_completion_id));
        // The key is needed to sign, so it is obtained before anything is printed.
        auto const key = TRY(load_or_create_key(context.key_path));
        auto certificate = TRY(new_certificate(source, key, m_validity_days, quenmark::Timestamp::now()));
        ChainAppender chain(context.audit_path);
        auto event = certificate_event(certificate);

        // Stored first, announced after: the line names a record the files hold.
        Results results(context.format);
        announce(results, certificate);
        records.add(std::move(certificate));
        TRY(commit_chain_and_store(
            chain, [&] { return chain.append(key, std::move(event)); }, context.state_path, std::move(store)));
        return print_after_commit(results);
    }

private:
    std::string m_completion_id;
    std::int64_t m_validity_days { 365 };
};

} // namespace

CommandResult<CertificationSource> certification_source(Records& records, std::string_view completion_id)
{
    auto const id = TRY(corvella::CompletionRecordId::parse(completion_id));
    auto const* record = TRY(records.find(id));
    auto const* assessment = TRY(records.find(record->assessment_id));
    return CertificationSource { record, assessment };
}

CommandResult<corvella::Certificate> new_certificate(CertificationSource const& source, quenmark::SigningKey const& key,
                                                     std::int64_t validity_days, quenmark::Timestamp now)
{
    return TRY(corvella::issue_certificate(key, *source.record, *source.assessment, now,
                                           quenmark::days_to_seconds(validity_days)));
}

CommandResult<corvella::UnsignedCertificate>
new_unsigned_certificate(CertificationSource const& source, std::int64_t validity_days, quenmark::Timestamp now)
{
    return TRY(corvella::certificate_to_sign(*source.record, *source.assessment, now,
                                             quenmark::days_to_seconds(validity_days)));
}

quenmark::AuditEvent certificate_event(corvella::Certificate const& certificate)
{
    auto const& payload = certificate.payload;
    return build_training_event({
        .action = "training.certificate.issued",
        .learner = payload.principal_id,
        .target_type = "certificate",
        .target_id = payload.certificate_id.to_string(),
        .category = quenmark::AuditCategory::Security,
        .occurred_at = payload.issued_at,
        .tenant_id = payload.tenant_id,
        .workspace_id = payload.workspace_id,
    });
}

void announce(Results& results, corvella::Certificate const& certificate)
{
    auto const& payload = certificate.payload;
    results.add(concat("issued certificate ", payload.certificate_id, " for principal ", payload.principal_id,
                       " \u2014 assessment ", payload.assessment_id, " v", payload.assessment_version, ", expires ",
                       payload.expires_at, '\n'),
                "certificate", [&](JsonObject& object) {
                    object.text("id", payload.certificate_id)
                        .text("principal_id", payload.principal_id)
                        .text("tenant_id", payload.tenant_id)
                        .text("workspace_id", payload.workspace_id)
                        .text("assessment_id", payload.assessment_id)
                        .number("assessment_version", std::uint64_t { payload.assessment_version })
                        .text("completion_record_id", payload.completion_record_id)
                        .text("score_band", corvella::stored_name(payload.score_band))
                        .text("issued_at", payload.issued_at)
                        .text("expires_at", payload.expires_at);
                });
}

std::unique_ptr<Command> make_certify() { return std::make_unique<Certify>(); }

} // namespace corvellactl

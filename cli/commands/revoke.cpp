#include "command.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/lock.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"

#include <memory>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

class Revoke final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--certificate-id", m_certificate_id, { .value_name = "CERTIFICATE_ID", .required = true });
        declaration.text("--reason", m_reason,
                         { .value_name = "REASON",
                           .help = "Why it is revoked, one line; shown whenever the certificate fails verification",
                           .required = true });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_certificate_id;
    std::string m_reason;
};

CommandResult<void> Revoke::run(CommandContext const& context)
{
    auto const lock = TRY(lock_data_files(context));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const certificate_id = TRY(corvella::CertificationId::parse(m_certificate_id));
    auto* stored = TRY(find(store, certificate_id));
    auto revocation = TRY(corvella::build_revocation(quenmark::Timestamp::now(), m_reason));
    auto revoked = TRY(corvella::revoke_certificate(*stored, std::move(revocation)));

    auto const key = TRY(load_or_create_key(context.key_path));
    auto const& payload = revoked.payload;
    // The operator revokes, not the learner, so the actor is left unknown.
    ChainAppender chain(context.audit_path);
    auto event = build_training_event({
        .action = "training.certificate.revoked",
        .target_type = "certificate",
        .target_id = certificate_id.to_string(),
        .category = quenmark::AuditCategory::Security,
        .occurred_at = revoked.revocation->revoked_at,
        .tenant_id = payload.tenant_id,
        .workspace_id = payload.workspace_id,
    });
    // Stored first, announced after: the line names a revocation the files hold.
    auto const& made = *revoked.revocation;
    Results results(context.format);
    results.add(concat("revoked certificate ", certificate_id, " at ", made.revoked_at, " \u2014 ", made.reason, '\n'),
                "revocation", [&](JsonObject& object) {
                    object.text("certificate_id", certificate_id)
                        .text("revoked_at", made.revoked_at)
                        .text("reason", made.reason);
                });
    *stored = std::move(revoked);
    TRY(commit_chain_and_store(
        chain, [&] { return chain.append(key, std::move(event)); }, context.state_path, std::move(store)));
    return print_after_commit(results);
}

} // namespace

std::unique_ptr<Command> make_revoke() { return std::make_unique<Revoke>(); }

} // namespace corvellactl

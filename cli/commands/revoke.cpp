#include "commands/commands.h"

#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/key_file.h"
#include "store/lock.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"

#include <string>
#include <utility>

namespace corvellactl {

CommandResult<void> run_revoke(CommandContext const& context, RevokeArgs const& args)
{
    auto const lock = TRY(lock_data_files(context));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const certificate_id = TRY(corvella::CertificationId::parse(args.certificate_id));
    auto* stored = TRY(find(store, certificate_id));
    auto revocation = TRY(corvella::build_revocation(quenmark::Timestamp::now(), args.reason));
    auto revoked = TRY(corvella::revoke_certificate(*stored, std::move(revocation)));

    auto const key = TRY(load_or_create_key(context.key_path));
    auto const& payload = revoked.payload;
    // The operator revokes, not the learner, so the actor is left unknown.
    ChainAppender chain(context.audit_path);
    TRY(chain.append(key,
                     build_training_event({
                         .action = "training.certificate.revoked",
                         .target_type = "certificate",
                         .target_id = certificate_id.to_string(),
                         .category = quenmark::AuditCategory::Security,
                         .occurred_at = revoked.revocation->revoked_at,
                         .tenant_id = payload.tenant_id,
                         .workspace_id = payload.workspace_id,
                     })));
    // Stored first, announced after: the line names a revocation the files hold.
    std::string const line = concat("revoked certificate ", certificate_id, " at ", revoked.revocation->revoked_at,
                                    " \u2014 ", revoked.revocation->reason, '\n');
    *stored = std::move(revoked);
    TRY(commit_chain_and_store(chain, context.state_path, store));
    return print(line);
}

} // namespace corvellactl

#include "commands/commands.h"

#include "commands/training_event.h"
#include "output.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/files.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "quenmark/text/text.h"

#include <string>
#include <utility>

namespace corvellactl {
namespace {

std::string issued_line(corvella::CertificatePayload const& payload)
{
    return concat("issued certificate ", payload.certificate_id, " for principal ", payload.principal_id,
                  " \u2014 assessment ", payload.assessment_id, " v", payload.assessment_version, ", expires ",
                  payload.expires_at, '\n');
}

} // namespace

CommandResult<void> run_certify(CommandContext const& context, CertifyArgs const& args)
{
    auto const lock = TRY(lock_data_files(context));
    auto store = TRY(load_store(context.state_path));
    auto const completion_id = TRY(corvella::CompletionRecordId::parse(args.completion_id));
    auto const* record = TRY(find(store, completion_id));
    auto const* assessment = TRY(find(store, record->assessment_id));

    // The key is needed to sign, so it is obtained before anything is printed.
    auto const key = TRY(load_or_create_key(context.key_path));
    auto const now = quenmark::Timestamp::now();
    auto certificate = TRY(
        corvella::issue_certificate(key, *record, *assessment, now, quenmark::days_to_seconds(args.validity_days)));
    auto const& payload = certificate.payload;
    ChainAppender chain(context.audit_path);
    TRY(chain.append(key,
                     build_training_event({
                         .action = "training.certificate.issued",
                         .learner = payload.principal_id,
                         .target_type = "certificate",
                         .target_id = payload.certificate_id.to_string(),
                         .category = quenmark::AuditCategory::Security,
                         .occurred_at = payload.issued_at,
                         .tenant_id = payload.tenant_id,
                         .workspace_id = payload.workspace_id,
                     })));

    // Stored first, announced after: the line names a record the files hold.
    std::string const line = issued_line(payload);
    store.certificates.push_back(std::move(certificate));
    TRY(commit_chain_and_store(chain, context.state_path, store));
    return print(line);
}

} // namespace corvellactl

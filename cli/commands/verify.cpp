#include "commands/commands.h"

#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/lock.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"

#include <optional>
#include <string>

namespace corvellactl {
namespace {

// The instant the certificate is checked as of: --at, or now. An --at before
// year 0 is refused, because the failure event would carry it as an instant
// that the audit file could no longer read back.
CommandResult<quenmark::Timestamp> as_of_instant(std::optional<std::string> const& at)
{
    if (!at)
        return quenmark::Timestamp::now();
    auto const instant = TRY(quenmark::Timestamp::parse(*at));
    if (!instant.is_text_writable())
        return quenmark::unexpected(CommandError::message("--at must not be earlier than "
                                                          + quenmark::Timestamp::earliest_text_writable().to_text()));
    return instant;
}

} // namespace

CommandResult<void> run_verify(CommandContext const& context, VerifyArgs const& args)
{
    // Only the key and audit files may be written, but the state is read
    // under the same lock so no half-finished command is seen.
    auto const lock = TRY(lock_data_files(context));
    auto const store = TRY(load_store_with_progress(context.state_path));
    auto const certificate_id = TRY(corvella::CertificationId::parse(args.certificate_id));
    auto const* certificate = TRY(find(store, certificate_id));
    auto const key = TRY(load_or_create_key(context.key_path));
    auto const as_of = TRY(as_of_instant(args.at));

    auto const checked = corvella::check_certificate(*certificate, key.verifying_key(), as_of);
    if (checked) {
        return print(concat("VALID \u2014 certificate ", certificate_id, " verifies as of ", as_of, '\n'));
    }

    // The failure event is stored before the INVALID line is printed.
    auto const reason = checked.error().text();
    auto const& payload = certificate->payload;
    ChainAppender chain(context.audit_path);
    TRY(chain.append(key,
                     build_training_event({
                         .action = "training.certificate.verification_failed",
                         .target_type = "certificate",
                         .target_id = certificate_id.to_string(),
                         .result = quenmark::AuditResult::Denied,
                         .category = quenmark::AuditCategory::Security,
                         .occurred_at = as_of,
                         .tenant_id = payload.tenant_id,
                         .workspace_id = payload.workspace_id,
                     })));
    TRY(chain.save());
    TRY(print(concat("INVALID \u2014 certificate ", certificate_id, " does not verify: ", reason, '\n')));
    return quenmark::unexpected(
        CommandError::message(concat("certificate ", certificate_id, " failed verification: ", reason)));
}

} // namespace corvellactl

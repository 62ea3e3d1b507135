#include "command.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/lock.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "corvella/reconcile.h"

#include <memory>
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

class Verify final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--certificate-id", m_certificate_id, { .value_name = "CERTIFICATE_ID", .required = true });
        declaration.text("--at", m_at, { .value_name = "AT", .help = "RFC 3339 instant to verify as-of. Defaults to now" });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_certificate_id;
    std::optional<std::string> m_at;
};

CommandResult<void> Verify::run(CommandContext const& context)
{
    // Only the key and audit files may be written, but the state is read
    // under the same lock so no half-finished command is seen.
    auto const lock = TRY(lock_data_files(context));
    // The chain is searched while the state is read, of which only the
    // certificate is kept.
    std::optional<RevocationSearch> search;
    StoreUse use { .assessments = false, .assignments = false, .attempts = false, .completions = false };
    if (auto const id = corvella::CertificationId::parse(m_certificate_id)) {
        search.emplace(context.audit_path, *id);
        use.certificate = *id;
    }
    auto const store = TRY(load_store_with_progress(context.state_path, use));
    auto const certificate_id = TRY(corvella::CertificationId::parse(m_certificate_id));
    auto const* certificate = TRY(find(store, certificate_id));
    auto const key = TRY(load_or_create_key(context.key_path));
    auto const as_of = TRY(as_of_instant(m_at));
    // The signed chain outranks a state file that lost a revocation.
    auto const revoked_in_chain = TRY(search->revoked_at(key.verifying_key()));
    TRY(corvella::check_revocation_stored(*certificate, revoked_in_chain));

    auto const checked = corvella::check_certificate(*certificate, key.verifying_key(), as_of);
    Results results(context.format);
    auto const verification = [&](JsonObject& object) {
        object.text("certificate_id", certificate_id).text("as_of", as_of).boolean("valid", checked.has_value());
        if (!checked)
            object.text("reason", checked.error().text());
    };
    if (checked) {
        results.add(concat("VALID \u2014 certificate ", certificate_id, " verifies as of ", as_of, '\n'),
                    "verification", verification);
        return print(results);
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
    results.add(concat("INVALID \u2014 certificate ", certificate_id, " does not verify: ", reason, '\n'),
                "verification", verification);
    TRY(print(results));
    return quenmark::unexpected(
        CommandError::message(concat("certificate ", certificate_id, " failed verification: ", reason)));
}

} // namespace

std::unique_ptr<Command> make_verify() { return std::make_unique<Verify>(); }

} // namespace corvellactl

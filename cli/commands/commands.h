#pragma once

// One handler per command. Each is given the command context and its own
// arguments, prints its result lines on standard output and returns success
// or the error the front end prints after "Error: ".

#include "commands/args.h"
#include "context.h"

namespace corvellactl {

[[nodiscard]] CommandResult<void> run_assessment_create(CommandContext const& context, AssessmentCreateArgs const& args);
[[nodiscard]] CommandResult<void> run_assessment_publish(CommandContext const& context, AssessmentIdArgs const& args);
[[nodiscard]] CommandResult<void> run_assessment_list(CommandContext const& context);
[[nodiscard]] CommandResult<void> run_assessment_inspect(CommandContext const& context, AssessmentIdArgs const& args);
[[nodiscard]] CommandResult<void> run_assign(CommandContext const& context, AssignArgs const& args);
[[nodiscard]] CommandResult<void> run_attempt(CommandContext const& context, AttemptArgs const& args);
[[nodiscard]] CommandResult<void> run_certify(CommandContext const& context, CertifyArgs const& args);
[[nodiscard]] CommandResult<void> run_verify(CommandContext const& context, VerifyArgs const& args);
[[nodiscard]] CommandResult<void> run_revoke(CommandContext const& context, RevokeArgs const& args);
[[nodiscard]] CommandResult<void> run_credential_export(CommandContext const& context, CredentialExportArgs const& args);
[[nodiscard]] CommandResult<void> run_credential_verify(CredentialVerifyArgs const& args);
[[nodiscard]] CommandResult<void> run_key_public(CommandContext const& context);
[[nodiscard]] CommandResult<void> run_audit_verify(CommandContext const& context, AuditVerifyArgs const& args);
[[nodiscard]] CommandResult<void> run_audit_checkpoint(CommandContext const& context, AuditCheckpointArgs const& args);
[[nodiscard]] CommandResult<void> run_report_readiness(CommandContext const& context);
[[nodiscard]] CommandResult<void> run_doctor(CommandContext const& context);

} // namespace corvellactl

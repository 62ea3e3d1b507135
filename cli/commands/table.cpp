// The commands of corvellactl and their help texts, in the order --help
// shows them. A group's row comes before the rows of its commands.

#include "command.h"

#include <memory>

namespace corvellactl {

// Each is defined in the command's own file.
std::unique_ptr<Command> make_assessment_create();
std::unique_ptr<Command> make_assessment_publish();
std::unique_ptr<Command> make_assessment_list();
std::unique_ptr<Command> make_assessment_inspect();
std::unique_ptr<Command> make_assign();
std::unique_ptr<Command> make_attempt();
std::unique_ptr<Command> make_certify();
std::unique_ptr<Command> make_verify();
std::unique_ptr<Command> make_revoke();
std::unique_ptr<Command> make_batch_assign();
std::unique_ptr<Command> make_batch_attempt();
std::unique_ptr<Command> make_batch_certify();
std::unique_ptr<Command> make_credential_export();
std::unique_ptr<Command> make_credential_verify();
std::unique_ptr<Command> make_audit_verify();
std::unique_ptr<Command> make_audit_checkpoint();
std::unique_ptr<Command> make_audit_reconcile();
std::unique_ptr<Command> make_audit_prove();
std::unique_ptr<Command> make_audit_verify_proof();
std::unique_ptr<Command> make_report_readiness();
std::unique_ptr<Command> make_report_overdue();
std::unique_ptr<Command> make_report_expiring();
std::unique_ptr<Command> make_report_learner();
std::unique_ptr<Command> make_report_assessment();
std::unique_ptr<Command> make_key_public();
std::unique_ptr<Command> make_doctor();

namespace {

CommandEntry const table[] = {
    { "assessment", "Manage assessment definitions (create / publish / list / inspect)" },
    { "assessment create", "Create a new draft assessment from a questions JSON file", make_assessment_create },
    { "assessment publish", "Publish a draft assessment so it can be assigned and attempted",
      make_assessment_publish },
    { "assessment list", "List all assessments", make_assessment_list },
    { "assessment inspect", "Show one assessment's learner-safe view (never prints an answer key)",
      make_assessment_inspect },
    { "assign", "Assign a published assessment to a principal", make_assign },
    { "attempt", "Submit answers for an assignment and grade them", make_attempt },
    { "certify", "Issue a certificate from a completion record", make_certify },
    { "verify", "Verify a certificate's signature and expiry", make_verify },
    { "revoke", "Revoke a certificate: from now on it no longer verifies", make_revoke },
    { "batch", "Assign, grade and certify many learners from a CSV file, each batch stored in one commit" },
    { "batch assign",
      "Assign an assessment to every learner of a CSV file (columns principal_id, tenant_id, workspace_id, "
      "due_in_days, reason)",
      make_batch_assign },
    { "batch attempt", "Grade every row of a CSV file of answers (columns assignment_id, answers)",
      make_batch_attempt },
    { "batch certify",
      "Issue a certificate for every completion record of a CSV file (column completion_id), or for every one "
      "not yet certified",
      make_batch_certify },
    { "credential", "Certificates as verifiable credentials that anyone can check (export / verify)" },
    { "credential export",
      "Export a certificate as a signed Open Badges 3.0 credential (W3C Verifiable Credential 2.0)",
      make_credential_export },
    { "credential verify",
      "Check a credential file on its own: proof, issuer, certificate and validity; reads no state, key or audit "
      "file",
      make_credential_verify },
    { "audit", "Inspect the local signed audit chain" },
    { "audit verify", "Verify the whole local audit chain", make_audit_verify },
    { "audit checkpoint", "Write a signed checkpoint of the audit chain; kept elsewhere, it shows later truncation",
      make_audit_checkpoint },
    { "audit reconcile",
      "Hold the state file to the audit chain: every record has its event and every event its record; certificates' "
      "signatures hold",
      make_audit_reconcile },
    { "audit prove",
      "Write a proof that the chain holds one event, or that it only grew since an older checkpoint, checked with "
      "the public key alone",
      make_audit_prove },
    { "audit verify-proof",
      "Check a proof written by `audit prove` with the log's public key alone; reads no state, key or audit file",
      make_audit_verify_proof },
    { "report", "Readiness / status reports" },
    { "report readiness", "Readiness counts across assessments, assignments, and certificates",
      make_report_readiness },
    { "report overdue", "List the open assignments past their due date, most overdue first", make_report_overdue },
    { "report expiring",
      "List the certificates to renew: valid ones expiring soon, and expired ones not yet renewed, soonest first",
      make_report_expiring },
    { "report learner",
      "One learner's transcript: assignments, attempts, completion records and certificates",
      make_report_learner },
    { "report assessment",
      "How an assessment went: assignments by status, pass rate, scores and per question the answers chosen",
      make_report_assessment },
    { "key", "The local signing key" },
    { "key public",
      "Print the local verifying key: hex, multibase and did:key, one per line (creates the key if missing)",
      make_key_public },
    { "doctor", "Sanity-check the local state file, signing key, and audit chain", make_doctor },
};

} // namespace

std::span<CommandEntry const> command_table() { return table; }

} // namespace corvellactl

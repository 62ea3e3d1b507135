#pragma once

// What the commands that change learner records share with their batch
// forms: each builds its records and audit events from one request, against
// the records in memory and with the rules of the training library, and
// announces them in its own words. A batch applies one request per row.

#include "context.h"
#include "output.h"
#include "store/records.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/enums.h"
#include "corvella/lifecycle.h"
#include "corvella/records.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace corvellactl {

// The command-line names of the assignment reasons, in the order of their values.
std::span<std::string_view const> reason_names();

// One learner to assign: identifiers as text, or the word new.
struct AssignRequest {
    std::string_view tenant_id;
    std::string_view workspace_id;
    std::string_view principal_id;
    corvella::AssignmentReason reason { corvella::AssignmentReason::RoleRequirement };
    std::optional<std::int64_t> due_in_days;
};

// The assignment of an assessment that can be assigned, built at `now`.
// Errors: an identifier that is neither new nor valid, tenant first.
[[nodiscard]] CommandResult<corvella::TrainingAssignment>
new_assignment(corvella::AssessmentDefinition const& assessment, AssignRequest const& request, quenmark::Timestamp now);
quenmark::AuditEvent assignment_event(corvella::TrainingAssignment const& assignment);
void announce(Results& results, corvella::TrainingAssignment const& assignment);

// A submission of answers (the --answers text) to an assignment, graded at
// `now` as the next attempt at it. Errors: a malformed or unknown
// assignment, its assessment missing, answers that are not a list of
// indices, and the refusals of the training library.
[[nodiscard]] CommandResult<corvella::Submission> new_submission(Records& records, std::string_view assignment_id,
                                                                 std::string_view answers, quenmark::Timestamp now);
// The attempt's event, and the completion's for a passing attempt.
std::vector<quenmark::AuditEvent> submission_events(corvella::Submission const& submission);
void record(Records& records, corvella::Submission submission);
void announce(Results& results, corvella::Submission const& submission);

// What a certificate is issued from: a completion record and its assessment.
struct CertificationSource {
    corvella::CompletionRecord const* record { nullptr };
    corvella::AssessmentDefinition const* assessment { nullptr };
};

// The completion record the text names, and its assessment. Errors: a
// malformed or unknown completion record, its assessment missing. The
// pointers are good until the next change to the records.
[[nodiscard]] CommandResult<CertificationSource> certification_source(Records& records, std::string_view completion_id);
// A certificate issued at `now`, signed with the key; the refusals of issuing.
[[nodiscard]] CommandResult<corvella::Certificate> new_certificate(CertificationSource const& source,
                                                                   quenmark::SigningKey const& key,
                                                                   std::int64_t validity_days, quenmark::Timestamp now);
// The same certificate not yet signed, with the bytes its signature covers.
[[nodiscard]] CommandResult<corvella::UnsignedCertificate>
new_unsigned_certificate(CertificationSource const& source, std::int64_t validity_days, quenmark::Timestamp now);
quenmark::AuditEvent certificate_event(corvella::Certificate const& certificate);
void announce(Results& results, corvella::Certificate const& certificate);

} // namespace corvellactl

#pragma once

// Holding the learner records of a state file to the audit chain, whose
// events are signed, while the state file is not. Each record is vouched
// for by the event that the command which stored it appended:
//
//   assignment         its "training.assignment.created" event
//   attempt            its "training.knowledge_check.attempted" event
//   completion record  the "training.assignment.completed" event of its
//                      assignment: the passing attempt completes the
//                      assignment and makes the record in one command, and
//                      that event, which names the assignment rather than the
//                      record, occurred at the record's completed_at
//   certificate        its "training.certificate.issued" event
//   revocation         its certificate's "training.certificate.revoked" event
//
// A completed assignment is vouched for as completed by the same completed
// event, and a "training.certificate.verification_failed" event names a
// certificate that must be stored. An event and its record agree on the
// record's id, its tenant and workspace, its learner where the event's actor
// is the learner, the instant the event occurred at, and an attempt's
// outcome (the event's result is success exactly when the attempt passed).

#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvella {

// The records of a state file that audit events vouch for.
struct LearnerRecords {
    std::span<TrainingAssignment const> assignments;
    std::span<KnowledgeCheckAttempt const> attempts;
    std::span<CompletionRecord const> completions;
    std::span<Certificate const> certificates;
};

// Every disagreement between the records and a chain that verified under
// `key`, one line of text each: first the records stored twice, then what
// the events, oldest first, find missing or different in the records, then
// the records, in stored order, that no event vouches for and the
// certificates whose signature does not hold under `key`. An event whose record is
// missing may be left by a command interrupted between replacing the audit
// chain and the state file, which are replaced in that order; its text says
// so. Events of actions that no training command appends are ignored.
// Empty when they agree.
[[nodiscard]] std::vector<std::string> reconcile(LearnerRecords const& records,
                                                 std::span<quenmark::SignedAuditEvent const> chain,
                                                 quenmark::VerifyingKey const& key);

// Whether the entry is a "training.certificate.revoked" event naming the
// certificate, its signature not looked at.
bool names_revocation_of(quenmark::SignedAuditEvent const& entry, CertificationId const& certificate);

// The instant the entry revokes the certificate: when it is a
// "training.certificate.revoked" event naming it whose signature holds under
// `key`. Absent otherwise.
std::optional<quenmark::Timestamp> revoked_by(quenmark::SignedAuditEvent const& entry,
                                              CertificationId const& certificate, quenmark::VerifyingKey const& key);

// Refuses a certificate that the audit chain revokes (at `revoked_in_chain`)
// while its stored record carries no revocation: RevocationNotStored, since
// the state file lost what the signed chain holds.
[[nodiscard]] quenmark::Expected<void, TrainingError>
check_revocation_stored(Certificate const& certificate, std::optional<quenmark::Timestamp> revoked_in_chain);

} // namespace corvella

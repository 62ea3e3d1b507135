#pragma once

// The audit events that the training commands append: "corvella" events in
// the tenant and workspace of the record they are about.

#include "context.h"
#include "store/chain_file.h"

#include "corvella/ids/ids.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvellactl {

// What differs between the training events; the defaults are those of most.
struct TrainingEventSpec {
    std::string_view action;
    // The learner who acted, as a user; an unknown actor when absent.
    std::optional<corvella::IdentityId> learner {};
    std::string_view target_type;
    std::string target_id;
    quenmark::AuditResult result { quenmark::AuditResult::Success };
    quenmark::AuditCategory category { quenmark::AuditCategory::Policy };
    quenmark::Timestamp occurred_at;
    corvella::TenantId tenant_id;
    corvella::WorkspaceId workspace_id;
};

// A fresh event from the platform's audit event builder, with the members
// that differ between training events taken from the argument.
quenmark::AuditEvent build_training_event(TrainingEventSpec spec);

// The audit chain searched for the revocation events naming a certificate
// from construction on, so that a command reads the chain while it reads
// the state (ChainSearch); the key they must be signed with is asked for
// only afterwards, when the command has it.
class RevocationSearch {
public:
    RevocationSearch(std::string audit_path, corvella::CertificationId certificate);

    // The instant at which the audit chain revokes the certificate: that of
    // the last revocation event naming it that is signed with the key.
    // Absent when there is none. Errors: those of reading the chain file.
    // Once only.
    [[nodiscard]] CommandResult<std::optional<quenmark::Timestamp>> revoked_at(quenmark::VerifyingKey const& key);

private:
    ChainSearch m_search;
    corvella::CertificationId m_certificate;
};

} // namespace corvellactl

#pragma once

// The parsed arguments of each command that takes any. Identifiers arrive as
// plain text: each handler parses its own, so a malformed identifier is a
// command error rather than a usage error.

#include "corvella/enums.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvellactl {

struct AssessmentCreateArgs {
    std::string title;
    std::string course_id { "new" };
    std::uint32_t min_correct { 0 };
    std::uint32_t attempt_limit { 3 };
    std::string questions;
};

// `assessment publish` and `assessment inspect`: the one positional identifier.
struct AssessmentIdArgs {
    std::string id;
};

struct AssignArgs {
    std::string assessment_id;
    std::string tenant_id { "new" };
    std::string workspace_id { "new" };
    std::string principal_id { "new" };
    corvella::AssignmentReason reason { corvella::AssignmentReason::RoleRequirement };
    std::optional<std::int64_t> due_in_days;
};

struct AttemptArgs {
    std::string assignment_id;
    std::string answers;
};

struct CertifyArgs {
    std::string completion_id;
    std::int64_t validity_days { 365 };
};

struct VerifyArgs {
    std::string certificate_id;
    std::optional<std::string> at;
};

struct RevokeArgs {
    std::string certificate_id;
    std::string reason;
};

struct AuditCheckpointArgs {
    // Where the signed note goes; standard output when absent.
    std::optional<std::string> output;
};

struct CredentialExportArgs {
    std::string certificate_id;
    // Where the credential goes; standard output when absent.
    std::optional<std::string> output;
};

struct CredentialVerifyArgs {
    // The credential file; nothing else is read.
    std::string file;
    std::optional<std::string> at;
};

struct AuditVerifyArgs {
    // A note written by `audit checkpoint` that the chain must still hold.
    std::optional<std::string> checkpoint;
};

} // namespace corvellactl

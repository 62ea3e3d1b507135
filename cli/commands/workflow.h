#pragma once

// Helpers the learner workflow commands share: the lock over the data files,
// day arithmetic, the bounds of what the file form can hold, audit events of
// the training records, and lines on standard error.

#include "context.h"
#include "store/files.h"

#include "corvella/ids/ids.h"
#include "quenmark/audit_event.h"
#include "quenmark/time/timestamp.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvellactl {

// Takes the lock over the directories of all three data files, for a command
// that may write any of them.
[[nodiscard]] CommandResult<DirectoryLock> lock_data_files(CommandContext const& context);

// Days as seconds, saturating at the ends of the signed 64-bit range.
std::int64_t days_to_seconds(std::int64_t days);

// 0000-01-01T00:00:00Z: the earliest instant whose text form reads back. An
// earlier one is written as Unix seconds, which no reader accepts.
quenmark::Timestamp earliest_writable_instant();

// What a training record's audit event says; build_training_event fills in
// the rest through the audit event builder.
struct TrainingEventSpec {
    std::string_view action;
    quenmark::ActorType actor_type { quenmark::ActorType::User };
    std::optional<std::string> actor_id;
    std::string_view target_type;
    std::string target_id;
    quenmark::AuditResult result { quenmark::AuditResult::Success };
    quenmark::AuditCategory category { quenmark::AuditCategory::Policy };
    quenmark::Timestamp occurred_at;
    corvella::TenantId tenant_id;
    corvella::WorkspaceId workspace_id;
};

// A fresh "corvella" event with the tenant and workspace of the record.
quenmark::AuditEvent build_training_event(TrainingEventSpec spec);

// Writes the text to standard error at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print_to_stderr(std::string_view text);

} // namespace corvellactl

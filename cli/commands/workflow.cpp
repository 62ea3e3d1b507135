#include "commands/workflow.h"

#include "store/files.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::int64_t seconds_per_day = 86'400;
// 719528 days lie between 0000-01-01 and 1970-01-01 in the proleptic
// Gregorian calendar.
constexpr std::int64_t year_zero_unix_seconds = -719'528 * seconds_per_day;

} // namespace

CommandResult<DirectoryLock> lock_data_files(CommandContext const& context)
{
    return DirectoryLock::acquire({ context.state_path, context.key_path, context.audit_path });
}

std::int64_t days_to_seconds(std::int64_t days)
{
    std::int64_t seconds = 0;
    if (__builtin_mul_overflow(days, seconds_per_day, &seconds))
        return days < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    return seconds;
}

quenmark::Timestamp earliest_writable_instant()
{
    return quenmark::Timestamp::from_unix_seconds(year_zero_unix_seconds);
}

quenmark::AuditEvent build_training_event(TrainingEventSpec spec)
{
    auto event = quenmark::build_audit_event(
        quenmark::corvella_product_id(),
        quenmark::Actor {
            .actor_type = spec.actor_type, .actor_id = std::move(spec.actor_id), .display_name_encrypted = {} },
        quenmark::Target { .target_type = std::string(spec.target_type), .target_id = std::move(spec.target_id) },
        std::string(spec.action), spec.result, spec.category, spec.occurred_at);
    event.tenant_id = spec.tenant_id.uuid();
    event.workspace_id = spec.workspace_id.uuid();
    return event;
}

CommandResult<void> print_to_stderr(std::string_view text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stderr) != text.size() || std::fflush(stderr) != 0)
        return quenmark::unexpected(CommandError::io(errno != 0 ? errno : EIO));
    return {};
}

} // namespace corvellactl

#include "commands/commands.h"

#include "output.h"
#include "store/state.h"

#include "corvella/enums.h"
#include "corvella/records.h"
#include "quenmark/text/text.h"

#include <cstdint>
#include <string>

namespace corvellactl {
namespace {

struct Readiness {
    std::uint64_t published { 0 };
    std::uint64_t draft { 0 };
    std::uint64_t retired { 0 };
    std::uint64_t assigned { 0 };
    std::uint64_t in_progress { 0 };
    std::uint64_t completed { 0 };
    std::uint64_t cancelled { 0 };
    std::uint64_t overdue { 0 };
    std::uint64_t completions { 0 };
    std::uint64_t valid { 0 };
    std::uint64_t expired { 0 };
};

// Every comparison with the present uses the one `now`.
Readiness count(Store const& store, quenmark::Timestamp now)
{
    Readiness counts;
    for (auto const& assessment : store.assessments) {
        switch (assessment.status) {
        case corvella::AssessmentStatus::Published:
            ++counts.published;
            break;
        case corvella::AssessmentStatus::Draft:
            ++counts.draft;
            break;
        case corvella::AssessmentStatus::Retired:
            ++counts.retired;
            break;
        }
    }
    for (auto const& assignment : store.assignments) {
        switch (assignment.status) {
        case corvella::AssignmentStatus::Assigned:
            ++counts.assigned;
            break;
        case corvella::AssignmentStatus::InProgress:
            ++counts.in_progress;
            break;
        case corvella::AssignmentStatus::Completed:
            ++counts.completed;
            break;
        case corvella::AssignmentStatus::Cancelled:
            ++counts.cancelled;
            break;
        }
        if (corvella::is_overdue(assignment, now))
            ++counts.overdue;
    }
    counts.completions = store.completions.size();
    for (auto const& certificate : store.certificates) {
        if (certificate.payload.expires_at.is_before(now))
            ++counts.expired;
        else
            ++counts.valid;
    }
    return counts;
}

} // namespace

CommandResult<void> run_report_readiness(CommandContext const& context)
{
    auto const store = TRY(load_store(context.state_path));
    auto const counts = count(store, quenmark::Timestamp::now());

    return print(concat("Assessments   : ", counts.published, " published, ", counts.draft, " draft, ", counts.retired,
                        " retired\nAssignments   : ", counts.assigned, " assigned, ", counts.in_progress,
                        " in progress, ", counts.completed, " completed, ", counts.cancelled, " cancelled (",
                        counts.overdue, " overdue)\nCompletions   : ", counts.completions,
                        "\nCertificates  : ", counts.valid, " valid, ", counts.expired, " expired\n"));
}

} // namespace corvellactl

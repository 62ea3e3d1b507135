#include "command.h"
#include "output.h"
#include "progress.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/enums.h"
#include "corvella/records.h"
#include "quenmark/text/text.h"

#include <cstdint>
#include <memory>
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
    // Counted by their dates: a revoked certificate that has not expired
    // still counts as valid here.
    for (auto const& certificate : store.certificates) {
        if (corvella::standing_as_of(certificate.payload, now) == corvella::Standing::Expired)
            ++counts.expired;
        else
            ++counts.valid;
    }
    return counts;
}

CommandResult<void> run_report_readiness(CommandContext const& context)
{
    auto const store = TRY(load_store_with_progress(context.state_path));
    auto const counts = count(store, quenmark::Timestamp::now());

    Results results(context.format);
    results.add(concat("Assessments   : ", counts.published, " published, ", counts.draft, " draft, ", counts.retired,
                       " retired\nAssignments   : ", counts.assigned, " assigned, ", counts.in_progress,
                       " in progress, ", counts.completed, " completed, ", counts.cancelled, " cancelled (",
                       counts.overdue, " overdue)\nCompletions   : ", counts.completions,
                       "\nCertificates  : ", counts.valid, " valid, ", counts.expired, " expired\n"),
                "readiness", [&counts](JsonObject& object) {
                    object
                        .object("assessments",
                                [&](JsonObject& assessments) {
                                    assessments.number("published", counts.published)
                                        .number("draft", counts.draft)
                                        .number("retired", counts.retired);
                                })
                        .object("assignments",
                                [&](JsonObject& assignments) {
                                    assignments.number("assigned", counts.assigned)
                                        .number("in_progress", counts.in_progress)
                                        .number("completed", counts.completed)
                                        .number("cancelled", counts.cancelled)
                                        .number("overdue", counts.overdue);
                                })
                        .number("completions", counts.completions)
                        .object("certificates", [&](JsonObject& certificates) {
                            certificates.number("valid", counts.valid).number("expired", counts.expired);
                        });
                });
    return print(results);
}

} // namespace

std::unique_ptr<Command> make_report_readiness() { return std::make_unique<PlainCommand<run_report_readiness>>(); }

} // namespace corvellactl

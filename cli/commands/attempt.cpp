#include "commands/commands.h"

#include "commands/answers.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/key_file.h"
#include "store/lock.h"
#include "store/state.h"

#include "corvella/enums.h"
#include "corvella/grading.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

// The number the next attempt at the assignment gets: its stored attempts
// plus one. Beyond the counter's range it stays at the largest number, which
// no attempt limit admits.
std::uint32_t next_attempt_number(Store const& store, corvella::AssignmentId const& assignment_id)
{
    std::uint64_t count = 0;
    for (auto const& attempt : store.attempts) {
        if (attempt.assignment_id && *attempt.assignment_id == assignment_id)
            ++count;
    }
    if (count >= std::numeric_limits<std::uint32_t>::max())
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(count + 1);
}

bool is_terminal(corvella::AssignmentStatus status)
{
    return status == corvella::AssignmentStatus::Completed || status == corvella::AssignmentStatus::Cancelled;
}

std::string attempt_line(corvella::KnowledgeCheckAttempt const& attempt)
{
    return concat("attempt ", attempt.id, " (#", attempt.attempt_number, ") \u2014 ",
                  corvella::display_name(attempt.status), ", score band ", corvella::display_name(attempt.score_band),
                  ", feedback ", corvella::display_name(attempt.safe_feedback), '\n');
}

} // namespace

CommandResult<void> run_attempt(CommandContext const& context, AttemptArgs const& args)
{
    auto const lock = TRY(lock_data_files(context));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const assignment_id = TRY(corvella::AssignmentId::parse(args.assignment_id));
    auto const assignment = *TRY(find(store, assignment_id));
    auto const* assessment = TRY(find(store, assignment.assessment_id));

    auto const indices = parse_answers(args.answers);
    if (!indices)
        return quenmark::unexpected(CommandError::message(std::string(answers_message)));
    if (indices->size() != assessment->questions.size()) {
        return quenmark::unexpected(CommandError::message(concat("assessment ", assessment->id, " has ",
                                                                 assessment->questions.size(), " questions, but ",
                                                                 indices->size(), " answers were given")));
    }
    std::vector<corvella::Answer> answers;
    answers.reserve(indices->size());
    for (std::size_t position = 0; position < indices->size(); ++position)
        answers.push_back({ .question_id = assessment->questions[position].id, .choice_index = (*indices)[position] });

    auto const attempt_number = next_attempt_number(store, assignment.id);
    auto const now = quenmark::Timestamp::now();
    if (is_terminal(assignment.status))
        return quenmark::unexpected(
            CommandError::message(concat("assignment ", assignment.id, " has already reached a terminal state")));

    auto attempt = TRY(corvella::grade(*assessment, corvella::GradingRequest {
                                                        .tenant_id = assignment.tenant_id,
                                                        .workspace_id = assignment.workspace_id,
                                                        .principal_id = assignment.principal_id,
                                                        .assignment_id = assignment.id,
                                                        .attempt_number = attempt_number,
                                                        .answers = answers,
                                                        .started_at = now,
                                                        .completed_at = now,
                                                    }));
    auto const key = TRY(load_or_create_key(context.key_path));
    bool const passed = attempt.status == corvella::AttemptStatus::Passed;
    ChainAppender chain(context.audit_path);
    TRY(chain.append(key,
                     build_training_event({
                         .action = "training.knowledge_check.attempted",
                         .learner = attempt.principal_id,
                         .target_type = "knowledge_check_attempt",
                         .target_id = attempt.id.to_string(),
                         .result = passed ? quenmark::AuditResult::Success : quenmark::AuditResult::Denied,
                         .category = quenmark::AuditCategory::Privacy,
                         .occurred_at = attempt.completed_at,
                         .tenant_id = attempt.tenant_id,
                         .workspace_id = attempt.workspace_id,
                     })));

    // The lines are printed only once both files hold what they name.
    std::string lines = attempt_line(attempt);
    store.attempts.push_back(attempt);
    replace_assignment(store, corvella::mark_in_progress(assignment, now));

    if (passed) {
        auto record = TRY(corvella::build_completion_record(attempt, /*evidence_ref=*/std::nullopt));
        TRY(corvella::check_completion_for_assignment(record, assignment));
        auto completed = corvella::mark_completed(assignment, now);
        TRY(chain.append(key,
                         build_training_event({
                             .action = "training.assignment.completed",
                             .learner = completed.principal_id,
                             .target_type = "training_assignment",
                             .target_id = completed.id.to_string(),
                             .occurred_at = now,
                             .tenant_id = completed.tenant_id,
                             .workspace_id = completed.workspace_id,
                         })));
        append_parts(lines, "completion recorded: ", record.id, " (use this id with `certify --completion-id`)\n");
        replace_assignment(store, std::move(completed));
        store.completions.push_back(std::move(record));
    }

    TRY(commit_chain_and_store(chain, context.state_path, store));
    return print(lines);
}

} // namespace corvellactl

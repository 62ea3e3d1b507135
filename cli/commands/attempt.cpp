#include "command.h"
#include "commands/answers.h"
#include "commands/learner_changes.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/lock.h"
#include "store/key_file.h"
#include "store/records.h"

#include "corvella/enums.h"
#include "corvella/ids/ids.h"

#include <memory>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

class Attempt final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--assignment-id", m_assignment_id, { .value_name = "ASSIGNMENT_ID", .required = true });
        declaration.text("--answers", m_answers,
                         { .value_name = "ANSWERS",
                           .help = "Comma-separated choice indices, in the assessment's question order, e.g. `1,0,1`",
                           .required = true });
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        Records records(store);
        auto submission = TRY(new_submission(records, m_assignment_id, m_answers, quenmark::Timestamp::now()));
        auto const key = TRY(load_or_create_key(context.key_path));
        ChainAppender chain(context.audit_path);
        auto events = submission_events(submission);

        // The lines are printed only once both files hold what they name.
        Results results(context.format);
        announce(results, submission);
        record(records, std::move(submission));
        auto const append = [&]() -> CommandResult<void> {
            for (auto& event : events)
                TRY(chain.append(key, std::move(event)));
            return {};
        };
        TRY(commit_chain_and_store(chain, append, context.state_path, std::move(store)));
        return print_after_commit(results);
    }

private:
    std::string m_assignment_id;
    std::string m_answers;
};

} // namespace

CommandResult<corvella::Submission> new_submission(Records& records, std::string_view assignment_id,
                                                   std::string_view answers, quenmark::Timestamp now)
{
    auto const id = TRY(corvella::AssignmentId::parse(assignment_id));
    auto const* assignment = TRY(records.find(id));
    auto const* assessment = TRY(records.find(assignment->assessment_id));
    auto const indices = parse_answers(answers);
    if (!indices)
        return quenmark::unexpected(CommandError::message(std::string(answers_message)));
    auto const attempt_number = corvella::next_attempt_number(records.attempts_at(id));
    return TRY(corvella::submit(*assignment, *assessment, *indices, attempt_number, now));
}

std::vector<quenmark::AuditEvent> submission_events(corvella::Submission const& submission)
{
    auto const& attempt = submission.attempt;
    std::vector<quenmark::AuditEvent> events;
    events.push_back(build_training_event({
        .action = "training.knowledge_check.attempted",
        .learner = attempt.principal_id,
        .target_type = "knowledge_check_attempt",
        .target_id = attempt.id.to_string(),
        .result = submission.completion ? quenmark::AuditResult::Success : quenmark::AuditResult::Denied,
        .category = quenmark::AuditCategory::Privacy,
        .occurred_at = attempt.completed_at,
        .tenant_id = attempt.tenant_id,
        .workspace_id = attempt.workspace_id,
    }));
    if (submission.completion) {
        auto const& completed = submission.assignment;
        events.push_back(build_training_event({
            .action = "training.assignment.completed",
            .learner = completed.principal_id,
            .target_type = "training_assignment",
            .target_id = completed.id.to_string(),
            .occurred_at = attempt.completed_at,
            .tenant_id = completed.tenant_id,
            .workspace_id = completed.workspace_id,
        }));
    }
    return events;
}

void record(Records& records, corvella::Submission submission)
{
    records.add(std::move(submission.attempt));
    records.replace(std::move(submission.assignment));
    if (submission.completion)
        records.add(std::move(*submission.completion));
}

void announce(Results& results, corvella::Submission const& submission)
{
    auto const& attempt = submission.attempt;
    results.add(concat("attempt ", attempt.id, " (#", attempt.attempt_number, ") \u2014 ",
                       corvella::display_name(attempt.status), ", score band ",
                       corvella::display_name(attempt.score_band), ", feedback ",
                       corvella::display_name(attempt.safe_feedback), '\n'),
                "attempt", [&](JsonObject& object) {
                    object.text("id", attempt.id)
                        .text("assignment_id", attempt.assignment_id)
                        .text("principal_id", attempt.principal_id)
                        .text("assessment_id", attempt.assessment_id)
                        .number("assessment_version", std::uint64_t { attempt.assessment_version })
                        .number("attempt_number", std::uint64_t { attempt.attempt_number })
                        .text("status", corvella::stored_name(attempt.status))
                        .text("score_band", corvella::stored_name(attempt.score_band))
                        .text("safe_feedback", corvella::stored_name(attempt.safe_feedback))
                        .text("completed_at", attempt.completed_at);
                });
    if (auto const& record = submission.completion) {
        results.add(concat("completion recorded: ", record->id, " (use this id with `certify --completion-id`)\n"),
                    "completion", [&](JsonObject& object) {
                        object.text("id", record->id)
                            .text("assignment_id", record->assignment_id)
                            .text("attempt_id", record->attempt_id)
                            .text("principal_id", record->principal_id)
                            .text("assessment_id", record->assessment_id)
                            .text("score_band", corvella::stored_name(record->score_band))
                            .text("completed_at", record->completed_at);
                    });
    }
}

std::unique_ptr<Command> make_attempt() { return std::make_unique<Attempt>(); }

} // namespace corvellactl

#include "command.h"
#include "commands/answers.h"
#include "commands/training_event.h"
#include "output.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/files.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "corvella/lifecycle.h"
#include "corvella/records.h"

#include <memory>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

std::string attempt_line(corvella::KnowledgeCheckAttempt const& attempt)
{
    return concat("attempt ", attempt.id, " (#", attempt.attempt_number, ") \u2014 ",
                  corvella::display_name(attempt.status), ", score band ", corvella::display_name(attempt.score_band),
                  ", feedback ", corvella::display_name(attempt.safe_feedback), '\n');
}

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
        auto store = TRY(load_store(context.state_path));
        auto const assignment_id = TRY(corvella::AssignmentId::parse(m_assignment_id));
        auto const* assignment = TRY(find(store, assignment_id));
        auto const* assessment = TRY(find(store, assignment->assessment_id));
        auto const indices = parse_answers(m_answers);
        if (!indices)
            return quenmark::unexpected(CommandError::message(std::string(answers_message)));
        auto const attempt_number = corvella::next_attempt_number(corvella::attempts_at(store.attempts, assignment_id));
        auto submission = TRY(corvella::submit(*assignment, *assessment, *indices, attempt_number,
                                               quenmark::Timestamp::now()));

        auto const key = TRY(load_or_create_key(context.key_path));
        auto const& attempt = submission.attempt;
        ChainAppender chain(context.audit_path);
        TRY(chain.append(key,
                         build_training_event({
                             .action = "training.knowledge_check.attempted",
                             .learner = attempt.principal_id,
                             .target_type = "knowledge_check_attempt",
                             .target_id = attempt.id.to_string(),
                             .result = submission.completion ? quenmark::AuditResult::Success
                                                             : quenmark::AuditResult::Denied,
                             .category = quenmark::AuditCategory::Privacy,
                             .occurred_at = attempt.completed_at,
                             .tenant_id = attempt.tenant_id,
                             .workspace_id = attempt.workspace_id,
                         })));
        // The lines are printed only once both files hold what they name.
        std::string lines = attempt_line(attempt);
        if (auto const& record = submission.completion) {
            auto const& completed = submission.assignment;
            TRY(chain.append(key,
                             build_training_event({
                                 .action = "training.assignment.completed",
                                 .learner = completed.principal_id,
                                 .target_type = "training_assignment",
                                 .target_id = completed.id.to_string(),
                                 .occurred_at = attempt.completed_at,
                                 .tenant_id = completed.tenant_id,
                                 .workspace_id = completed.workspace_id,
                             })));
            append_parts(lines, "completion recorded: ", record->id,
                         " (use this id with `certify --completion-id`)\n");
        }

        store.attempts.push_back(std::move(submission.attempt));
        replace_assignment(store, std::move(submission.assignment));
        if (submission.completion)
            store.completions.push_back(std::move(*submission.completion));
        TRY(commit_chain_and_store(chain, context.state_path, store));
        return print(lines);
    }

private:
    std::string m_assignment_id;
    std::string m_answers;
};

} // namespace

std::unique_ptr<Command> make_attempt() { return std::make_unique<Attempt>(); }

} // namespace corvellactl

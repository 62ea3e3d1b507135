#include "commands/commands.h"

#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/key_file.h"
#include "store/lock.h"
#include "store/state.h"

#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"

#include <optional>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

std::string created_line(corvella::TrainingAssignment const& assignment)
{
    return concat("created assignment ", assignment.id, " \u2014 principal ", assignment.principal_id, ", tenant ",
                  assignment.tenant_id, ", workspace ", assignment.workspace_id, ", assessment ",
                  assignment.assessment_id, '\n');
}

} // namespace

CommandResult<void> run_assign(CommandContext const& context, AssignArgs const& args)
{
    auto const lock = TRY(lock_data_files(context));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const assessment_id = TRY(corvella::AssessmentId::parse(args.assessment_id));
    auto const* assessment = TRY(find(store, assessment_id));
    if (assessment->status != corvella::AssessmentStatus::Published)
        return quenmark::unexpected(CommandError::message(concat(
            "assessment ", assessment_id, " is ", corvella::display_name(assessment->status),
            "; publish it before assigning")));

    auto const tenant_id = TRY(corvella::mint_or_parse<corvella::TenantId>(args.tenant_id));
    auto const workspace_id = TRY(corvella::mint_or_parse<corvella::WorkspaceId>(args.workspace_id));
    auto const principal_id = TRY(corvella::mint_or_parse<corvella::IdentityId>(args.principal_id));
    auto const now = quenmark::Timestamp::now();
    std::optional<quenmark::Timestamp> due_at;
    // Moving far back would leave the range the file form can hold and make
    // the state file unreadable, so the due instant stops at the earliest
    // writable one, as a far move forward stops at the latest.
    if (args.due_in_days)
        due_at = now.plus_seconds(quenmark::days_to_seconds(*args.due_in_days)).clamped_to_text_writable();

    auto assignment = corvella::build_assignment(corvella::NewAssignment {
        .tenant_id = tenant_id,
        .workspace_id = workspace_id,
        .principal_id = principal_id,
        .course_id = assessment->course_id,
        .assessment_id = assessment->id,
        .reason = args.reason,
        .due_at = due_at,
        .now = now,
    });
    auto const key = TRY(load_or_create_key(context.key_path));
    ChainAppender chain(context.audit_path);
    TRY(chain.append(key,
                     build_training_event({
                         .action = "training.assignment.created",
                         .learner = assignment.principal_id,
                         .target_type = "training_assignment",
                         .target_id = assignment.id.to_string(),
                         .occurred_at = assignment.created_at,
                         .tenant_id = assignment.tenant_id,
                         .workspace_id = assignment.workspace_id,
                     })));

    // Stored first, announced after: the line names a record the files hold.
    std::string const line = created_line(assignment);
    store.assignments.push_back(std::move(assignment));
    TRY(commit_chain_and_store(chain, context.state_path, store));
    return print(line);
}

} // namespace corvellactl

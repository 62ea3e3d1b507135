#include "command.h"
#include "commands/learner_changes.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/lock.h"
#include "store/key_file.h"
#include "store/records.h"

#include "corvella/ids/ids.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::string_view reasons[] = {
    "role-requirement",
    "manual-assignment",
    "compliance-control",
    "security-remediation",
};
static_assert(static_cast<std::size_t>(corvella::AssignmentReason::SecurityRemediation) + 1 == std::size(reasons));

class Assign final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--assessment-id", m_assessment_id, { .value_name = "ASSESSMENT_ID", .required = true });
        declaration.text("--tenant-id", m_tenant_id,
                         { .value_name = "TENANT_ID", .help = "Existing tenant id, or `new`", .default_value = "new" });
        declaration.text("--workspace-id", m_workspace_id,
                         { .value_name = "WORKSPACE_ID", .help = "Existing workspace id, or `new`",
                           .default_value = "new" });
        declaration.text("--principal-id", m_principal_id,
                         { .value_name = "PRINCIPAL_ID", .help = "Existing principal (learner) id, or `new`",
                           .default_value = "new" });
        declaration.choice("--reason", m_reason, reasons, { .value_name = "REASON", .default_value = reasons[0] });
        declaration.integer("--due-in-days", m_due_in_days, { .value_name = "DUE_IN_DAYS" });
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        auto const assessment_id = TRY(corvella::AssessmentId::parse(m_assessment_id));
        auto const* assessment = TRY(find(store, assessment_id));
        TRY(corvella::check_assignable(*assessment));
        auto assignment = TRY(new_assignment(*assessment,
                                             AssignRequest {
                                                 .tenant_id = m_tenant_id,
                                                 .workspace_id = m_workspace_id,
                                                 .principal_id = m_principal_id,
                                                 .reason = static_cast<corvella::AssignmentReason>(m_reason),
                                                 .due_in_days = m_due_in_days,
                                             },
                                             quenmark::Timestamp::now()));
        auto const key = TRY(load_or_create_key(context.key_path));
        ChainAppender chain(context.audit_path);
        auto event = assignment_event(assignment);

        // Stored first, announced after: the line names a record the files hold.
        Results results(context.format);
        announce(results, assignment);
        store.assignments.push_back(std::move(assignment));
        TRY(commit_chain_and_store(
            chain, [&] { return chain.append(key, std::move(event)); }, context.state_path, std::move(store)));
        return print_after_commit(results);
    }

private:
    std::string m_assessment_id;
    std::string m_tenant_id;
    std::string m_workspace_id;
    std::string m_principal_id;
    std::size_t m_reason { 0 };
    std::optional<std::int64_t> m_due_in_days;
};

} // namespace

std::span<std::string_view const> reason_names() { return reasons; }

CommandResult<corvella::TrainingAssignment> new_assignment(corvella::AssessmentDefinition const& assessment,
                                                           AssignRequest const& request, quenmark::Timestamp now)
{
    auto const tenant_id = TRY(corvella::mint_or_parse<corvella::TenantId>(request.tenant_id));
    auto const workspace_id = TRY(corvella::mint_or_parse<corvella::WorkspaceId>(request.workspace_id));
    auto const principal_id = TRY(corvella::mint_or_parse<corvella::IdentityId>(request.principal_id));
    std::optional<quenmark::Timestamp> due_at;
    // Moving far back would leave the range the file form can hold and make
    // the state file unreadable, so the due instant stops at the earliest
    // writable one, as a far move forward stops at the latest.
    if (request.due_in_days)
        due_at = now.plus_seconds(quenmark::days_to_seconds(*request.due_in_days)).clamped_to_text_writable();
    return corvella::build_assignment(corvella::NewAssignment {
        .tenant_id = tenant_id,
        .workspace_id = workspace_id,
        .principal_id = principal_id,
        .course_id = assessment.course_id,
        .assessment_id = assessment.id,
        .reason = request.reason,
        .due_at = due_at,
        .now = now,
    });
}

quenmark::AuditEvent assignment_event(corvella::TrainingAssignment const& assignment)
{
    return build_training_event({
        .action = "training.assignment.created",
        .learner = assignment.principal_id,
        .target_type = "training_assignment",
        .target_id = assignment.id.to_string(),
        .occurred_at = assignment.created_at,
        .tenant_id = assignment.tenant_id,
        .workspace_id = assignment.workspace_id,
    });
}

void announce(Results& results, corvella::TrainingAssignment const& assignment)
{
    results.add(concat("created assignment ", assignment.id, " \u2014 principal ", assignment.principal_id,
                       ", tenant ", assignment.tenant_id, ", workspace ", assignment.workspace_id, ", assessment ",
                       assignment.assessment_id, '\n'),
                "assignment", [&](JsonObject& object) {
                    object.text("id", assignment.id)
                        .text("principal_id", assignment.principal_id)
                        .text("tenant_id", assignment.tenant_id)
                        .text("workspace_id", assignment.workspace_id)
                        .text("assessment_id", assignment.assessment_id)
                        .text("course_id", assignment.course_id)
                        .text("reason", corvella::stored_name(assignment.assignment_reason))
                        .text("status", corvella::stored_name(assignment.status))
                        .text("due_at", assignment.due_at)
                        .text("created_at", assignment.created_at);
                });
}

std::unique_ptr<Command> make_assign() { return std::make_unique<Assign>(); }

} // namespace corvellactl

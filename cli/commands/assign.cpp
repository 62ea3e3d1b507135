#include "command.h"
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
#include <optional>
#include <string>
#include <utility>

namespace corvellactl {
namespace {

// The command-line names of the assignment reasons, in the order of their values.
constexpr std::string_view reason_names[] = {
    "role-requirement",
    "manual-assignment",
    "compliance-control",
    "security-remediation",
};
static_assert(static_cast<std::size_t>(corvella::AssignmentReason::SecurityRemediation) + 1 == std::size(reason_names));

std::string created_line(corvella::TrainingAssignment const& assignment)
{
    return concat("created assignment ", assignment.id, " \u2014 principal ", assignment.principal_id, ", tenant ",
                  assignment.tenant_id, ", workspace ", assignment.workspace_id, ", assessment ",
                  assignment.assessment_id, '\n');
}

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
        declaration.choice("--reason", m_reason, reason_names,
                           { .value_name = "REASON", .default_value = reason_names[0] });
        declaration.integer("--due-in-days", m_due_in_days, { .value_name = "DUE_IN_DAYS" });
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store(context.state_path));
        auto const assessment_id = TRY(corvella::AssessmentId::parse(m_assessment_id));
        auto const* assessment = TRY(find(store, assessment_id));
        TRY(corvella::check_assignable(*assessment));

        auto const tenant_id = TRY(corvella::mint_or_parse<corvella::TenantId>(m_tenant_id));
        auto const workspace_id = TRY(corvella::mint_or_parse<corvella::WorkspaceId>(m_workspace_id));
        auto const principal_id = TRY(corvella::mint_or_parse<corvella::IdentityId>(m_principal_id));
        auto const now = quenmark::Timestamp::now();
        std::optional<quenmark::Timestamp> due_at;
        // Moving far back would leave the range the file form can hold and
        // make the state file unreadable, so the due instant stops at the
        // earliest writable one, as a far move forward stops at the latest.
        if (m_due_in_days)
            due_at = now.plus_seconds(quenmark::days_to_seconds(*m_due_in_days)).clamped_to_text_writable();

        auto assignment = corvella::build_assignment(corvella::NewAssignment {
            .tenant_id = tenant_id,
            .workspace_id = workspace_id,
            .principal_id = principal_id,
            .course_id = assessment->course_id,
            .assessment_id = assessment->id,
            .reason = static_cast<corvella::AssignmentReason>(m_reason),
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

private:
    std::string m_assessment_id;
    std::string m_tenant_id;
    std::string m_workspace_id;
    std::string m_principal_id;
    std::size_t m_reason { 0 };
    std::optional<std::int64_t> m_due_in_days;
};

} // namespace

std::unique_ptr<Command> make_assign() { return std::make_unique<Assign>(); }

} // namespace corvellactl

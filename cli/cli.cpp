#include "cli.h"

#include "commands/commands.h"
#include "quenmark/text.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <limits>
#include <ostream>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

namespace corvellactl {
namespace {

constexpr char const* about_text
    = "Corvella (manifest product 34) \u2014 assessments, assignments, certification. Vertical slice only; see "
      "STATUS.md.";

// Accepts decimal text only (an optional "+", or "-" for signed types, then
// digits) inside the range of T, and rewrites it as plain decimal so that the
// parser's own conversion (which would also read hex, octal and clamp
// overflow) sees nothing else.
template<typename T>
CLI::Validator decimal_integer()
{
    auto const normalise = [](std::string& text) -> std::string {
        std::string_view digits = text;
        if (digits.size() > 1 && digits.front() == '+' && digits[1] != '-')
            digits.remove_prefix(1);
        bool const negative = std::is_signed_v<T> && !digits.empty() && digits.front() == '-';
        std::string_view const magnitude = negative ? digits.substr(1) : digits;
        bool const all_digits = !magnitude.empty()
            && magnitude.find_first_not_of("0123456789") == std::string_view::npos;
        if (!all_digits)
            return "value " + text + " is not a decimal integer";
        T value {};
        auto const [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc {} || end != digits.data() + digits.size())
            return "value " + text + " is out of range " + std::to_string(std::numeric_limits<T>::min()) + " to "
                + std::to_string(std::numeric_limits<T>::max());
        text = std::to_string(value);
        return {};
    };
    return CLI::Validator(normalise, std::is_signed_v<T> ? "INT64" : "UINT32");
}

// The command-line names of the assignment reasons, in the order of their values.
constexpr std::string_view reason_names[] = {
    "role-requirement",
    "manual-assignment",
    "compliance-control",
    "security-remediation",
};

// Everything the parser binds to, kept alive until the Cli is built.
struct Bindings {
    Cli cli;
    std::string reason { reason_names[0] };
    std::int64_t due_in_days { 0 };
    std::string at;
};

struct Tree {
    CLI::App app { about_text, std::string(program_name) };
    CLI::App* assessment { nullptr };
    CLI::App* create { nullptr };
    CLI::App* publish { nullptr };
    CLI::App* list { nullptr };
    CLI::App* inspect { nullptr };
    CLI::App* assign { nullptr };
    CLI::App* attempt { nullptr };
    CLI::App* certify { nullptr };
    CLI::App* verify { nullptr };
    CLI::App* audit { nullptr };
    CLI::App* audit_verify { nullptr };
    CLI::App* report { nullptr };
    CLI::App* readiness { nullptr };
    CLI::App* doctor { nullptr };
    CLI::Option* due_in_days { nullptr };
    CLI::Option* at { nullptr };
};

void setup_global_options(CLI::App& app, CommandContext& context)
{
    app.add_option("--state", context.state_path, "Path to the local JSON state file")
        ->type_name("STATE")
        ->default_val("corvella-state.json");
    app.add_option("--key", context.key_path, "Path to the local Ed25519 signing key (hex seed). Created on first use")
        ->type_name("KEY")
        ->default_val("corvella-signing-key.hex");
    app.add_option("--audit", context.audit_path, "Path to the local signed audit chain")
        ->type_name("AUDIT")
        ->default_val("corvella-audit.json");
}

void setup_assessment(Tree& tree, Bindings& bindings)
{
    tree.assessment
        = tree.app.add_subcommand("assessment", "Manage assessment definitions (create / publish / list / inspect)");
    tree.assessment->require_subcommand(1);

    auto& create_args = bindings.cli.create;
    tree.create = tree.assessment->add_subcommand("create", "Create a new draft assessment from a questions JSON file");
    tree.create->add_option("--title", create_args.title)->type_name("TITLE")->required();
    tree.create->add_option("--course-id", create_args.course_id, "Existing course id, or `new` to mint one")
        ->type_name("COURSE_ID")
        ->default_val("new");
    tree.create->add_option("--min-correct", create_args.min_correct)
        ->type_name("MIN_CORRECT")
        ->required()
        ->transform(decimal_integer<std::uint32_t>());
    tree.create->add_option("--attempt-limit", create_args.attempt_limit)
        ->type_name("ATTEMPT_LIMIT")
        ->transform(decimal_integer<std::uint32_t>())
        ->default_val("3");
    tree.create
        ->add_option("--questions", create_args.questions,
                     "Path to a JSON file: `[{\"prompt\": \"...\", \"choices\": [\"a\",\"b\"], \"correct_index\": 0}]`")
        ->type_name("QUESTIONS")
        ->required();

    tree.publish = tree.assessment->add_subcommand("publish",
                                                   "Publish a draft assessment so it can be assigned and attempted");
    tree.publish->add_option("ID", bindings.cli.assessment_id.id)->type_name("ID")->required();

    tree.list = tree.assessment->add_subcommand("list", "List all assessments");

    tree.inspect = tree.assessment->add_subcommand(
        "inspect", "Show one assessment's learner-safe view (never prints an answer key)");
    tree.inspect->add_option("ID", bindings.cli.assessment_id.id)->type_name("ID")->required();
}

void setup_learner_commands(Tree& tree, Bindings& bindings)
{
    auto& assign_args = bindings.cli.assign;
    tree.assign = tree.app.add_subcommand("assign", "Assign a published assessment to a principal");
    tree.assign->add_option("--assessment-id", assign_args.assessment_id)->type_name("ASSESSMENT_ID")->required();
    tree.assign->add_option("--tenant-id", assign_args.tenant_id, "Existing tenant id, or `new`")
        ->type_name("TENANT_ID")
        ->default_val("new");
    tree.assign->add_option("--workspace-id", assign_args.workspace_id, "Existing workspace id, or `new`")
        ->type_name("WORKSPACE_ID")
        ->default_val("new");
    tree.assign->add_option("--principal-id", assign_args.principal_id, "Existing principal (learner) id, or `new`")
        ->type_name("PRINCIPAL_ID")
        ->default_val("new");
    tree.assign->add_option("--reason", bindings.reason)
        ->type_name("REASON")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(reason_names), std::end(reason_names))))
        ->default_val(std::string(reason_names[0]));
    tree.due_in_days = tree.assign->add_option("--due-in-days", bindings.due_in_days)
                           ->type_name("DUE_IN_DAYS")
                           ->transform(decimal_integer<std::int64_t>());

    auto& attempt_args = bindings.cli.attempt;
    tree.attempt = tree.app.add_subcommand("attempt", "Submit answers for an assignment and grade them");
    tree.attempt->add_option("--assignment-id", attempt_args.assignment_id)->type_name("ASSIGNMENT_ID")->required();
    tree.attempt
        ->add_option("--answers", attempt_args.answers,
                     "Comma-separated choice indices, in the assessment's question order, e.g. `1,0,1`")
        ->type_name("ANSWERS")
        ->required();

    auto& certify_args = bindings.cli.certify;
    tree.certify = tree.app.add_subcommand("certify", "Issue a certificate from a completion record");
    tree.certify->add_option("--completion-id", certify_args.completion_id)->type_name("COMPLETION_ID")->required();
    tree.certify->add_option("--validity-days", certify_args.validity_days)
        ->type_name("VALIDITY_DAYS")
        ->transform(decimal_integer<std::int64_t>())
        ->default_val("365");

    auto& verify_args = bindings.cli.verify;
    tree.verify = tree.app.add_subcommand("verify", "Verify a certificate's signature and expiry");
    tree.verify->add_option("--certificate-id", verify_args.certificate_id)->type_name("CERTIFICATE_ID")->required();
    tree.at = tree.verify->add_option("--at", bindings.at, "RFC 3339 instant to verify as-of. Defaults to now")
                  ->type_name("AT");
}

void setup_reports(Tree& tree)
{
    tree.audit = tree.app.add_subcommand("audit", "Inspect the local signed audit chain");
    tree.audit->require_subcommand(1);
    tree.audit_verify = tree.audit->add_subcommand("verify", "Verify the whole local audit chain");

    tree.report = tree.app.add_subcommand("report", "Readiness / status reports");
    tree.report->require_subcommand(1);
    tree.readiness
        = tree.report->add_subcommand("readiness", "Readiness counts across assessments, assignments, and certificates");

    tree.doctor = tree.app.add_subcommand("doctor", "Sanity-check the local state file, signing key, and audit chain");
}

void setup(Tree& tree, Bindings& bindings)
{
    tree.app.set_version_flag("--version", std::string(program_name) + " " + std::string(program_version));
    tree.app.require_subcommand(1);
    // Subcommands created from here on inherit fallthrough, so the global
    // options are accepted after a subcommand at any depth.
    tree.app.fallthrough();
    setup_global_options(tree.app, bindings.cli.context);
    setup_assessment(tree, bindings);
    setup_learner_commands(tree, bindings);
    setup_reports(tree);
    for (auto* command : { tree.assessment, tree.create, tree.publish, tree.list, tree.inspect, tree.assign,
                           tree.attempt, tree.certify, tree.verify, tree.audit, tree.audit_verify, tree.report,
                           tree.readiness, tree.doctor })
        command->footer("The global options --state, --key and --audit are accepted here too.");
}

// The command group the parse ended in, when it lacks its subcommand.
CLI::App const* group_missing_subcommand(Tree const& tree)
{
    CLI::App const* current = &tree.app;
    for (;;) {
        auto const chosen = current->get_subcommands();
        if (chosen.empty())
            break;
        current = chosen.front();
    }
    bool const is_group
        = current == &tree.app || current == tree.assessment || current == tree.audit || current == tree.report;
    return is_group ? current : nullptr;
}

Command selected_command(Tree const& tree)
{
    if (tree.create->parsed())
        return Command::AssessmentCreate;
    if (tree.publish->parsed())
        return Command::AssessmentPublish;
    if (tree.list->parsed())
        return Command::AssessmentList;
    if (tree.inspect->parsed())
        return Command::AssessmentInspect;
    if (tree.assign->parsed())
        return Command::Assign;
    if (tree.attempt->parsed())
        return Command::Attempt;
    if (tree.certify->parsed())
        return Command::Certify;
    if (tree.verify->parsed())
        return Command::Verify;
    if (tree.audit_verify->parsed())
        return Command::AuditVerify;
    if (tree.readiness->parsed())
        return Command::ReportReadiness;
    return Command::Doctor;
}

static_assert(static_cast<std::size_t>(corvella::AssignmentReason::SecurityRemediation) + 1 == std::size(reason_names));

corvella::AssignmentReason reason_from_name(std::string_view name)
{
    for (std::size_t index = 0; index < std::size(reason_names); ++index) {
        if (reason_names[index] == name)
            return static_cast<corvella::AssignmentReason>(index);
    }
    return corvella::AssignmentReason::RoleRequirement; // the parser admits only the four names
}

std::string usage_hint() { return "Run with --help for more information.\n"; }

} // namespace

quenmark::Expected<Cli, ParseExit> parse_command_line(std::span<char const* const> arguments, std::ostream& out,
                                                      std::ostream& err)
{
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if (!quenmark::is_valid_utf8(arguments[index])) {
            err << "argument " << index + 1 << " is not valid UTF-8\n" << usage_hint();
            return quenmark::unexpected(ParseExit { exit_usage });
        }
    }

    Bindings bindings;
    Tree tree;
    setup(tree, bindings);

    std::vector<char const*> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(program_name.data());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    try {
        tree.app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (CLI::RequiredError const& error) {
        // An unknown word where a subcommand belongs is reported as such; a
        // command group given nothing more shows the group's help.
        if (auto const extras = tree.app.remaining(/*recurse=*/true); !extras.empty()) {
            tree.app.exit(CLI::ExtrasError(extras), out, err);
            return quenmark::unexpected(ParseExit { exit_usage });
        }
        if (auto const* group = group_missing_subcommand(tree)) {
            err << group->help(group == &tree.app ? std::string() : std::string(program_name));
            return quenmark::unexpected(ParseExit { exit_usage });
        }
        tree.app.exit(error, out, err);
        return quenmark::unexpected(ParseExit { exit_usage });
    } catch (CLI::ParseError const& error) {
        int const status = tree.app.exit(error, out, err);
        return quenmark::unexpected(ParseExit { status == 0 ? exit_success : exit_usage });
    }

    Cli cli = std::move(bindings.cli);
    cli.command = selected_command(tree);
    cli.assign.reason = reason_from_name(bindings.reason);
    if (tree.due_in_days->count() > 0)
        cli.assign.due_in_days = bindings.due_in_days;
    if (tree.at->count() > 0)
        cli.verify.at = bindings.at;
    return cli;
}

CommandResult<void> run_command(Cli const& cli)
{
    auto const& context = cli.context;
    switch (cli.command) {
    case Command::AssessmentCreate:
        return run_assessment_create(context, cli.create);
    case Command::AssessmentPublish:
        return run_assessment_publish(context, cli.assessment_id);
    case Command::AssessmentList:
        return run_assessment_list(context);
    case Command::AssessmentInspect:
        return run_assessment_inspect(context, cli.assessment_id);
    case Command::Assign:
        return run_assign(context, cli.assign);
    case Command::Attempt:
        return run_attempt(context, cli.attempt);
    case Command::Certify:
        return run_certify(context, cli.certify);
    case Command::Verify:
        return run_verify(context, cli.verify);
    case Command::AuditVerify:
        return run_audit_verify(context);
    case Command::ReportReadiness:
        return run_report_readiness(context);
    case Command::Doctor:
        return run_doctor(context);
    }
    __builtin_unreachable();
}

} // namespace corvellactl

#include "cli.h"

#include "commands/commands.h"
#include "quenmark/text/text.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <ostream>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
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
    std::string output;
    std::string checkpoint;
    std::string credential_output;
    std::string credential_at;
};

struct Tree {
    CLI::App app { about_text, std::string(program_name) };
    // The command groups, which need a subcommand, and the commands with
    // their handlers, in the order they were added.
    std::vector<CLI::App*> groups;
    std::vector<std::pair<CLI::App*, CommandHandler>> commands;
    CLI::Option* due_in_days { nullptr };
    CLI::Option* at { nullptr };
    CLI::Option* output { nullptr };
    CLI::Option* checkpoint { nullptr };
    CLI::Option* credential_output { nullptr };
    CLI::Option* credential_at { nullptr };
};

CLI::App* add_group(Tree& tree, std::string name, std::string description)
{
    auto* group = tree.app.add_subcommand(std::move(name), std::move(description));
    group->require_subcommand(1);
    tree.groups.push_back(group);
    return group;
}

CLI::App* add_command(Tree& tree, CLI::App& parent, std::string name, std::string description,
                      CommandHandler handler)
{
    auto* command = parent.add_subcommand(std::move(name), std::move(description));
    tree.commands.emplace_back(command, handler);
    return command;
}

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
    auto* assessment = add_group(tree, "assessment", "Manage assessment definitions (create / publish / list / inspect)");

    auto& create_args = bindings.cli.create;
    auto* create = add_command(tree, *assessment, "create", "Create a new draft assessment from a questions JSON file",
                               [](Cli const& cli) { return run_assessment_create(cli.context, cli.create); });
    create->add_option("--title", create_args.title)->type_name("TITLE")->required();
    create->add_option("--course-id", create_args.course_id, "Existing course id, or `new` to mint one")
        ->type_name("COURSE_ID")
        ->default_val("new");
    create->add_option("--min-correct", create_args.min_correct)
        ->type_name("MIN_CORRECT")
        ->required()
        ->transform(decimal_integer<std::uint32_t>());
    create->add_option("--attempt-limit", create_args.attempt_limit)
        ->type_name("ATTEMPT_LIMIT")
        ->transform(decimal_integer<std::uint32_t>())
        ->default_val("3");
    create
        ->add_option("--questions", create_args.questions,
                     "Path to a JSON file: `[{\"prompt\": \"...\", \"choices\": [\"a\",\"b\"], \"correct_index\": 0}]`")
        ->type_name("QUESTIONS")
        ->required();

    auto* publish = add_command(tree, *assessment, "publish",
                                "Publish a draft assessment so it can be assigned and attempted",
                                [](Cli const& cli) { return run_assessment_publish(cli.context, cli.assessment_id); });
    publish->add_option("ID", bindings.cli.assessment_id.id)->type_name("ID")->required();

    add_command(tree, *assessment, "list", "List all assessments",
                [](Cli const& cli) { return run_assessment_list(cli.context); });

    auto* inspect = add_command(tree, *assessment, "inspect",
                                "Show one assessment's learner-safe view (never prints an answer key)",
                                [](Cli const& cli) { return run_assessment_inspect(cli.context, cli.assessment_id); });
    inspect->add_option("ID", bindings.cli.assessment_id.id)->type_name("ID")->required();
}

void setup_learner_commands(Tree& tree, Bindings& bindings)
{
    auto& assign_args = bindings.cli.assign;
    auto* assign = add_command(tree, tree.app, "assign", "Assign a published assessment to a principal",
                               [](Cli const& cli) { return run_assign(cli.context, cli.assign); });
    assign->add_option("--assessment-id", assign_args.assessment_id)->type_name("ASSESSMENT_ID")->required();
    assign->add_option("--tenant-id", assign_args.tenant_id, "Existing tenant id, or `new`")
        ->type_name("TENANT_ID")
        ->default_val("new");
    assign->add_option("--workspace-id", assign_args.workspace_id, "Existing workspace id, or `new`")
        ->type_name("WORKSPACE_ID")
        ->default_val("new");
    assign->add_option("--principal-id", assign_args.principal_id, "Existing principal (learner) id, or `new`")
        ->type_name("PRINCIPAL_ID")
        ->default_val("new");
    assign->add_option("--reason", bindings.reason)
        ->type_name("REASON")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(reason_names), std::end(reason_names))))
        ->default_val(std::string(reason_names[0]));
    tree.due_in_days = assign->add_option("--due-in-days", bindings.due_in_days)
                           ->type_name("DUE_IN_DAYS")
                           ->transform(decimal_integer<std::int64_t>());

    auto& attempt_args = bindings.cli.attempt;
    auto* attempt = add_command(tree, tree.app, "attempt", "Submit answers for an assignment and grade them",
                                [](Cli const& cli) { return run_attempt(cli.context, cli.attempt); });
    attempt->add_option("--assignment-id", attempt_args.assignment_id)->type_name("ASSIGNMENT_ID")->required();
    attempt
        ->add_option("--answers", attempt_args.answers,
                     "Comma-separated choice indices, in the assessment's question order, e.g. `1,0,1`")
        ->type_name("ANSWERS")
        ->required();

    auto& certify_args = bindings.cli.certify;
    auto* certify = add_command(tree, tree.app, "certify", "Issue a certificate from a completion record",
                                [](Cli const& cli) { return run_certify(cli.context, cli.certify); });
    certify->add_option("--completion-id", certify_args.completion_id)->type_name("COMPLETION_ID")->required();
    certify->add_option("--validity-days", certify_args.validity_days)
        ->type_name("VALIDITY_DAYS")
        ->transform(decimal_integer<std::int64_t>())
        ->default_val("365");

    auto& verify_args = bindings.cli.verify;
    auto* verify = add_command(tree, tree.app, "verify", "Verify a certificate's signature and expiry",
                               [](Cli const& cli) { return run_verify(cli.context, cli.verify); });
    verify->add_option("--certificate-id", verify_args.certificate_id)->type_name("CERTIFICATE_ID")->required();
    tree.at = verify->add_option("--at", bindings.at, "RFC 3339 instant to verify as-of. Defaults to now")
                  ->type_name("AT");

    auto& revoke_args = bindings.cli.revoke;
    auto* revoke = add_command(tree, tree.app, "revoke",
                               "Revoke a certificate: from now on it no longer verifies",
                               [](Cli const& cli) { return run_revoke(cli.context, cli.revoke); });
    revoke->add_option("--certificate-id", revoke_args.certificate_id)->type_name("CERTIFICATE_ID")->required();
    revoke
        ->add_option("--reason", revoke_args.reason,
                     "Why it is revoked, one line; shown whenever the certificate fails verification")
        ->type_name("REASON")
        ->required();
}

void setup_credentials(Tree& tree, Bindings& bindings)
{
    auto* credential = add_group(tree, "credential",
                                 "Certificates as verifiable credentials that anyone can check (export / verify)");
    auto& export_args = bindings.cli.credential_export;
    auto* exporter = add_command(
        tree, *credential, "export",
        "Export a certificate as a signed Open Badges 3.0 credential (W3C Verifiable Credential 2.0)",
        [](Cli const& cli) { return run_credential_export(cli.context, cli.credential_export); });
    exporter->add_option("--certificate-id", export_args.certificate_id)->type_name("CERTIFICATE_ID")->required();
    tree.credential_output
        = exporter
              ->add_option("--output", bindings.credential_output,
                           "Write the credential to FILE (replaced atomically) instead of standard output")
              ->type_name("FILE");

    auto& verify_args = bindings.cli.credential_verify;
    auto* verifier = add_command(
        tree, *credential, "verify",
        "Check a credential file on its own: proof, issuer, certificate and validity; reads no state, key or audit file",
        [](Cli const& cli) { return run_credential_verify(cli.credential_verify); });
    verifier->add_option("FILE", verify_args.file, "The credential, as `credential export` wrote it")
        ->type_name("FILE")
        ->required();
    tree.credential_at
        = verifier->add_option("--at", bindings.credential_at, "RFC 3339 instant to check as of. Defaults to now")
              ->type_name("AT");
}

void setup_reports(Tree& tree, Bindings& bindings)
{
    auto* audit = add_group(tree, "audit", "Inspect the local signed audit chain");
    auto* verify = add_command(tree, *audit, "verify", "Verify the whole local audit chain",
                               [](Cli const& cli) { return run_audit_verify(cli.context, cli.audit_verify); });
    tree.checkpoint = verify
                          ->add_option("--checkpoint", bindings.checkpoint,
                                       "Also prove that the chain still holds a checkpoint written by `audit "
                                       "checkpoint`")
                          ->type_name("FILE");
    auto* checkpoint = add_command(
        tree, *audit, "checkpoint",
        "Write a signed checkpoint of the audit chain; kept elsewhere, it shows later truncation",
        [](Cli const& cli) { return run_audit_checkpoint(cli.context, cli.audit_checkpoint); });
    tree.output = checkpoint
                      ->add_option("--output", bindings.output,
                                   "Write the checkpoint to FILE (replaced atomically) instead of standard output")
                      ->type_name("FILE");

    auto* report = add_group(tree, "report", "Readiness / status reports");
    add_command(tree, *report, "readiness", "Readiness counts across assessments, assignments, and certificates",
                [](Cli const& cli) { return run_report_readiness(cli.context); });

    auto* key = add_group(tree, "key", "The local signing key");
    add_command(tree, *key, "public",
                "Print the local verifying key: hex, multibase and did:key, one per line (creates the key if missing)",
                [](Cli const& cli) { return run_key_public(cli.context); });

    add_command(tree, tree.app, "doctor", "Sanity-check the local state file, signing key, and audit chain",
                [](Cli const& cli) { return run_doctor(cli.context); });
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
    setup_credentials(tree, bindings);
    setup_reports(tree, bindings);
    constexpr char const* footer = "The global options --state, --key and --audit are accepted here too.";
    for (auto* group : tree.groups)
        group->footer(footer);
    for (auto const& [command, handler] : tree.commands)
        command->footer(footer);
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
    bool const is_group = current == &tree.app
        || std::find(tree.groups.begin(), tree.groups.end(), current) != tree.groups.end();
    return is_group ? current : nullptr;
}

// The handler of the one command a successful parse selects.
CommandHandler selected_handler(Tree const& tree)
{
    for (auto const& [command, handler] : tree.commands) {
        if (command->parsed())
            return handler;
    }
    quenmark::fail_internal("the command line selected no command");
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
    cli.handler = selected_handler(tree);
    cli.assign.reason = reason_from_name(bindings.reason);
    if (tree.due_in_days->count() > 0)
        cli.assign.due_in_days = bindings.due_in_days;
    if (tree.at->count() > 0)
        cli.verify.at = bindings.at;
    if (tree.output->count() > 0)
        cli.audit_checkpoint.output = bindings.output;
    if (tree.checkpoint->count() > 0)
        cli.audit_verify.checkpoint = bindings.checkpoint;
    if (tree.credential_output->count() > 0)
        cli.credential_export.output = bindings.credential_output;
    if (tree.credential_at->count() > 0)
        cli.credential_verify.at = bindings.credential_at;
    return cli;
}

CommandResult<void> run_command(Cli const& cli) { return cli.handler(cli); }

} // namespace corvellactl

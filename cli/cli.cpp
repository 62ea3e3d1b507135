#include "cli.h"

#include "quenmark/text/text.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
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

// The attributes every argument has, in the order the help shows them;
// `checks` adds validators before a default goes through them.
template<typename Checks>
CLI::Option* finish(CLI::Option* option, ArgumentSpec const& spec, Checks checks)
{
    option->type_name(std::string(spec.value_name));
    checks(*option);
    if (spec.required)
        option->required();
    if (!spec.default_value.empty())
        option->default_val(std::string(spec.default_value));
    return option;
}

template<typename T>
void declare_integer(CLI::App& command, std::string_view name, T& value, ArgumentSpec const& spec)
{
    finish(command.add_option(std::string(name), value, std::string(spec.help)), spec,
           [](CLI::Option& option) { option.transform(decimal_integer<T>()); });
}

} // namespace

void Declaration::text(std::string_view name, std::string& value, ArgumentSpec const& spec)
{
    finish(m_command.add_option(std::string(name), value, std::string(spec.help)), spec, [](CLI::Option&) { });
}

void Declaration::text(std::string_view name, std::optional<std::string>& value, ArgumentSpec const& spec)
{
    auto* option = m_command.add_option_function<std::string>(
        std::string(name), [&value](std::string const& given) { value = given; }, std::string(spec.help));
    finish(option, spec, [](CLI::Option&) { });
}

void Declaration::integer(std::string_view name, std::uint32_t& value, ArgumentSpec const& spec)
{
    declare_integer(m_command, name, value, spec);
}

void Declaration::integer(std::string_view name, std::int64_t& value, ArgumentSpec const& spec)
{
    declare_integer(m_command, name, value, spec);
}

void Declaration::integer(std::string_view name, std::optional<std::int64_t>& value, ArgumentSpec const& spec)
{
    auto* option = m_command.add_option_function<std::int64_t>(
        std::string(name), [&value](std::int64_t given) { value = given; }, std::string(spec.help));
    finish(option, spec, [](CLI::Option& added) { added.transform(decimal_integer<std::int64_t>()); });
}

void Declaration::choice(std::string_view name, std::size_t& value, std::span<std::string_view const> names,
                         ArgumentSpec const& spec)
{
    auto const chosen = [&value, names](std::string const& given) {
        value = static_cast<std::size_t>(std::find(names.begin(), names.end(), given) - names.begin());
    };
    auto* option = m_command.add_option_function<std::string>(std::string(name), chosen, std::string(spec.help));
    finish(option, spec, [names](CLI::Option& added) {
        added.check(CLI::IsMember(std::vector<std::string>(names.begin(), names.end())));
    });
}

void Declaration::flag(std::string_view name, bool& value, std::string_view help)
{
    m_command.add_flag(std::string(name), value, std::string(help));
}

namespace {

// The parser's tree of the command table, with each command's object, which
// the parser fills in.
struct Tree {
    CLI::App app { about_text, std::string(program_name) };
    std::vector<CLI::App*> groups;
    std::vector<std::pair<CLI::App*, std::unique_ptr<Command>>> commands;
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
    app.add_flag_function(
        "--json", [&context](std::int64_t) { context.format = OutputFormat::JsonLines; },
        "Write result lines as JSON Lines: one object per record or fact, its \"type\" member saying which");
}

void setup(Tree& tree, CommandContext& context)
{
    tree.app.set_version_flag("--version", std::string(program_name) + " " + std::string(program_version));
    tree.app.require_subcommand(1);
    // Subcommands created from here on inherit fallthrough, so the global
    // options are accepted after a subcommand at any depth.
    tree.app.fallthrough();
    setup_global_options(tree.app, context);

    constexpr char const* footer = "The global options --state, --key, --audit and --json are accepted here too.";
    std::map<std::string_view, CLI::App*> by_path { { "", &tree.app } };
    for (auto const& entry : command_table()) {
        auto const space = entry.path.rfind(' ');
        std::string_view const parent = space == std::string_view::npos ? "" : entry.path.substr(0, space);
        std::string_view const name = space == std::string_view::npos ? entry.path : entry.path.substr(space + 1);
        auto* app = by_path.at(parent)->add_subcommand(std::string(name), std::string(entry.help));
        app->footer(footer);
        by_path.emplace(entry.path, app);
        if (entry.make == nullptr) {
            app->require_subcommand(1);
            tree.groups.push_back(app);
            continue;
        }
        auto command = entry.make();
        Declaration declaration(*app);
        command->declare(declaration);
        tree.commands.emplace_back(app, std::move(command));
    }
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

    Cli cli;
    Tree tree;
    setup(tree, cli.context);

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

    for (auto& [app, command] : tree.commands) {
        if (app->parsed()) {
            cli.command = std::move(command);
            return cli;
        }
    }
    quenmark::fail_internal("the command line selected no command");
}

CommandResult<void> run_command(Cli const& cli) { return cli.command->run(cli.context); }

} // namespace corvellactl

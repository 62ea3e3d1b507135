// Shell completion against the grammar the program declares. One table of
// command lines, built from the grammar of every command and group, is
// completed by bash (the completion function run in a subshell with
// COMP_WORDS and COMP_CWORD set as bash sets them) and by zsh (an interactive
// zsh on a pseudo-terminal, typing each line and a Tab); each must offer
// exactly the subcommands, options, fixed values and file names the grammar
// calls for.

#include "grammar_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

using e2e::Grammar;
using Words = std::vector<std::string>;
using Offered = std::set<std::string>;

std::filesystem::path completions_directory() { return std::filesystem::path(CORVELLA_SOURCE_DIR) / "completions"; }

// Runs a shell command; its standard output and standard error.
std::string run_shell(std::string const& command)
{
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::string out;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    ::pclose(pipe);
    return out;
}

bool installed(std::string const& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The candidates of each line: lines of `text`, each line's ended by "@@".
std::vector<Offered> split_offers(std::string const& text)
{
    std::vector<Offered> offered(1);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line == "@@")
            offered.emplace_back();
        else if (!line.empty())
            offered.back().insert(line);
    }
    offered.pop_back();
    return offered;
}

std::string quoted(std::string const& word) { return "'" + word + "'"; }

// bash: the words after "corvellactl", the last one being completed.
std::vector<Offered> complete_with_bash(e2e::ScratchDirectory const& scratch, std::vector<Words> const& lines)
{
    std::string script = "source " + quoted((completions_directory() / "corvellactl.bash").string()) + "\n"
                         "complete_line() {\n"
                         "    COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                         "    COMP_LINE=\"$*\"; COMP_POINT=${#COMP_LINE}\n"
                         "    _corvellactl\n"
                         "    printf '%s\\n' \"${COMPREPLY[@]}\"; echo @@\n"
                         "}\n";
    for (auto const& words : lines) {
        script += "complete_line corvellactl";
        for (auto const& word : words)
            script += " " + quoted(word);
        script += '\n';
    }
    e2e::write_file(scratch / "driver.bash", script);
    return split_offers(run_shell("cd " + quoted((scratch / "work").string())
                                  + " && bash --norc --noprofile ../driver.bash"));
}

// zsh: the same lines typed as text, "=" joined to its neighbours.
std::vector<Offered> complete_with_zsh(e2e::ScratchDirectory const& scratch, std::vector<Words> const& lines)
{
    std::string typed;
    for (auto const& words : lines) {
        std::string line = "corvellactl";
        for (std::size_t index = 0; index < words.size(); ++index) {
            bool const glued = words[index] == "=" || (index > 0 && words[index - 1] == "=");
            line += (glued ? "" : " ") + words[index];
        }
        typed += line + "\n";
    }
    e2e::write_file(scratch / "lines", typed);
    auto const driver = std::filesystem::path(CORVELLA_SOURCE_DIR) / "tests" / "e2e" / "complete.zsh";
    std::string const output = run_shell("cd " + quoted((scratch / "work").string()) + " && zsh -f "
                                         + quoted(driver.string()) + " " + quoted(completions_directory().string())
                                         + " ../lines ../capture");
    if (!output.empty())
        ADD_FAILURE() << "zsh: " << output;
    return split_offers(e2e::read_file(scratch / "capture"));
}

// Value names of options and positionals that name files; the value of
// --public-key is the key itself.
bool names_a_file(std::string const& value_name, std::string_view option = {})
{
    static std::set<std::string> const file_values { "STATE", "KEY", "AUDIT", "QUESTIONS", "FILE", "OLD" };
    return option != "--public-key" && file_values.count(value_name) > 0;
}

struct Table {
    std::vector<Words> lines;
    std::vector<Offered> expected;
};

// For every command and group: what "--" and an empty word offer, each
// option's values, and the words that must not throw the walk off (global
// options before a command, a value that looks like a command).
Table table_from(Grammar const& grammar, Offered const& files)
{
    Offered globals;
    for (auto const& option : grammar.at("").options) {
        if (option.name != "--help" && option.name != "--version")
            globals.insert(option.name);
    }
    EXPECT_EQ(globals, (Offered { "--audit", "--json", "--key", "--state" }));

    Table table;
    auto const expect = [&table](Words words, Offered offered) {
        table.lines.push_back(std::move(words));
        table.expected.push_back(std::move(offered));
    };
    for (auto const& [path, command] : grammar) {
        Words const before = e2e::split_words(path);
        auto const with = [&before](Words more) {
            Words words = before;
            words.insert(words.end(), more.begin(), more.end());
            return words;
        };
        // The options: the command's own, --help and the globals.
        Offered options { "--help" };
        for (auto const& option : command.options)
            options.insert(option.name);
        if (!path.empty())
            options.insert(globals.begin(), globals.end());
        Offered with_short = options;
        with_short.insert("-h");
        expect(with({ "--" }), options);

        if (!command.subcommands.empty()) {
            Offered const subcommands(command.subcommands.begin(), command.subcommands.end());
            expect(with({ "" }), subcommands);
            expect(with({ "--state", "s.json", "" }), subcommands);
            expect(with({ "--audit", "=", "a.json", "" }), subcommands);
        } else if (!command.positionals.empty()) {
            expect(with({ "" }), names_a_file(command.positionals.front().value_name) ? files : Offered {});
            // Once the positional is given, the options.
            expect(with({ "alpha.json", "" }), with_short);
        } else {
            expect(with({ "" }), with_short);
        }

        for (auto const& option : command.options) {
            if (option.value_name.empty())
                continue;
            Offered values(option.choices.begin(), option.choices.end());
            if (names_a_file(option.value_name, option.name))
                values = files;
            // "Existing ... id, or `new`": the word that mints one.
            if (option.text.find("or `new`") != std::string::npos)
                values = { "new" };
            expect(with({ option.name, "" }), values);
            expect(with({ option.name, "=", "" }), values);
            if (!option.choices.empty()) {
                std::string const& last = option.choices.back();
                expect(with({ option.name, last.substr(0, 3) }), Offered { last });
                expect(with({ option.name, "=", last.substr(0, 3) }), Offered { last });
            }
            if (names_a_file(option.value_name, option.name))
                expect(with({ option.name, "al" }), Offered { "alpha.json" });
            // A value that happens to be a command's name is still a value.
            if (!path.empty() && option.choices.empty())
                expect(with({ option.name, "assessment", "--he" }), Offered { "--help" });
        }
    }
    return table;
}

void check(Table const& table, std::vector<Offered> const& offered, std::string_view shell)
{
    ASSERT_EQ(offered.size(), table.lines.size()) << shell;
    for (std::size_t index = 0; index < table.lines.size(); ++index) {
        std::string line = "corvellactl";
        for (auto const& word : table.lines[index])
            line += " " + quoted(word);
        EXPECT_EQ(offered[index], table.expected[index]) << shell << ": " << line;
    }
}

// A scratch directory whose "work" directory holds two files to complete.
struct Scratch {
    e2e::ScratchDirectory directory;
    Offered files { "alpha.json", "beta.txt" };

    Scratch()
    {
        std::filesystem::create_directory(directory / "work");
        for (auto const& file : files)
            e2e::write_file(directory / "work" / file, "");
    }
};

TEST(Completion, BashOffersWhatTheGrammarDeclares)
{
    if (!installed("bash"))
        GTEST_SKIP() << "bash is not installed";
    Scratch scratch;
    Table const table = table_from(e2e::declared_grammar(), scratch.files);
    ASSERT_GT(table.lines.size(), 100U);
    check(table, complete_with_bash(scratch.directory, table.lines), "bash");
}

TEST(Completion, ZshOffersWhatTheGrammarDeclares)
{
    if (!installed("zsh"))
        GTEST_SKIP() << "zsh is not installed";
    Scratch scratch;
    Table const table = table_from(e2e::declared_grammar(), scratch.files);
    check(table, complete_with_zsh(scratch.directory, table.lines), "zsh");
}

} // namespace

// The manual page against the program's own --help: every command, option,
// value name, default and fixed value the help shows is in the manual, and
// everything the manual declares is in the program, save the commands it
// documents ahead of their arrival (grammar_support.h).

#include "grammar_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using e2e::Command;
using e2e::Grammar;

bool lists(std::vector<std::string> const& names, std::string const& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string shown(std::string const& path) { return path.empty() ? "corvellactl" : "corvellactl " + path; }

TEST(Manual, DeclaresEveryCommandAndOptionTheHelpShows)
{
    Grammar const help = e2e::grammar_from_help();
    Grammar const manual = e2e::grammar_from_manual(e2e::manual_page());
    ASSERT_GT(help.size(), 10U);
    for (auto const& [path, command] : help) {
        SCOPED_TRACE(shown(path));
        auto const found = manual.find(path);
        if (found == manual.end()) {
            ADD_FAILURE() << "the manual has no section \".SS " << path << "\"";
            continue;
        }
        Command const& page = found->second;
        for (auto const& subcommand : command.subcommands)
            EXPECT_TRUE(lists(page.subcommands, subcommand)) << subcommand << " is not in the manual";
        for (auto const& option : command.options) {
            // Every command has --help; the manual says so once, for the program.
            if (option.name == "--help" && !path.empty())
                continue;
            auto const* declared = page.option(option.name);
            if (declared == nullptr) {
                ADD_FAILURE() << option.name << " is not in the manual";
                continue;
            }
            EXPECT_EQ(declared->value_name, option.value_name) << option.name;
            EXPECT_EQ(declared->default_value, option.default_value) << option.name;
            for (auto const& choice : option.choices)
                EXPECT_NE(declared->text.find(choice), std::string::npos) << option.name << " value " << choice;
        }
        ASSERT_EQ(page.positionals.size(), command.positionals.size());
        for (std::size_t index = 0; index < command.positionals.size(); ++index)
            EXPECT_EQ(page.positionals[index].value_name, command.positionals[index].value_name);
    }
}

TEST(Manual, EverythingItDeclaresIsInTheProgram)
{
    Grammar const help = e2e::grammar_from_help();
    Grammar const manual = e2e::grammar_from_manual(e2e::manual_page());
    // A path the program need not have yet: a command documented ahead, or a
    // group of nothing else.
    auto const ahead = [&manual](std::string const& path, auto const& self) -> bool {
        if (e2e::is_documented_ahead(path))
            return true;
        auto const& subcommands = manual.at(path).subcommands;
        return !subcommands.empty() && std::all_of(subcommands.begin(), subcommands.end(), [&](auto const& word) {
            return self(e2e::join_path(path, word), self);
        });
    };
    for (auto const& [path, page] : manual) {
        SCOPED_TRACE(shown(path));
        auto const found = help.find(path);
        if (e2e::is_documented_ahead(path)) {
            EXPECT_EQ(found, help.end()) << "the program has this command now: remove \"" << path
                                         << "\" from documented_ahead in tests/e2e/grammar_support.h";
        }
        if (ahead(path, ahead))
            continue;
        if (found == help.end()) {
            ADD_FAILURE() << "the manual declares a command the program does not have";
            continue;
        }
        Command const& command = found->second;
        for (auto const& subcommand : page.subcommands) {
            if (!ahead(e2e::join_path(path, subcommand), ahead)) {
                EXPECT_TRUE(lists(command.subcommands, subcommand)) << subcommand << " is not in --help";
            }
        }
        for (auto const& option : page.options)
            EXPECT_NE(command.option(option.name), nullptr) << option.name << " is not in --help";
        EXPECT_EQ(page.positionals.size(), command.positionals.size());
    }
    // The commands documented ahead are in the manual.
    for (auto const& path : e2e::documented_ahead)
        EXPECT_EQ(manual.count(path), 1U) << path;
}

// The page renders without a warning (where groff is installed).
TEST(Manual, RendersWithoutWarnings)
{
    if (std::system("command -v groff >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "groff is not installed";
    std::string const command = "groff -man -ww -z '" + e2e::manual_page().string() + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string warnings;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        warnings += buffer;
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(warnings, "");
}

} // namespace

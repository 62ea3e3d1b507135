#pragma once

// What a command is made of. Each command's file in commands/ holds its
// options, their declaration to the argument parser and its handler, as one
// Command; the table in commands/table.cpp lists the commands and their help
// texts, in the order --help shows them.

#include "context.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace corvellactl {

// How one option or positional argument is shown and checked. An argument
// whose name does not begin with "--" is positional.
struct ArgumentSpec {
    std::string_view value_name;
    std::string_view help {};
    // Shown in the help and taken when the argument is not given; empty for none.
    std::string_view default_value {};
    bool required { false };
};

// The declaration of one command's arguments to the argument parser, each
// bound to a member of the command, which the parser fills in. Integers are
// read as decimal text only, within the range of their type.
class Declaration {
public:
    explicit Declaration(CLI::App& command) : m_command(command) { }

    void text(std::string_view name, std::string& value, ArgumentSpec const& spec);
    // Left absent when the argument is not given.
    void text(std::string_view name, std::optional<std::string>& value, ArgumentSpec const& spec);
    void integer(std::string_view name, std::uint32_t& value, ArgumentSpec const& spec);
    void integer(std::string_view name, std::int64_t& value, ArgumentSpec const& spec);
    void integer(std::string_view name, std::optional<std::int64_t>& value, ArgumentSpec const& spec);
    // One of `names`, stored as its position among them.
    void choice(std::string_view name, std::size_t& value, std::span<std::string_view const> names,
                ArgumentSpec const& spec);
    // True when the flag is given.
    void flag(std::string_view name, bool& value, std::string_view help);

private:
    CLI::Option* add(std::string_view name, std::string& value, ArgumentSpec const& spec);
    CLI::App& m_command;
};

// One command of the program.
class Command {
public:
    virtual ~Command() = default;
    // Declares the command's arguments, bound to its own members.
    virtual void declare(Declaration& declaration) = 0;
    // Runs the command with the arguments the parser filled in.
    [[nodiscard]] virtual CommandResult<void> run(CommandContext const& context) = 0;
};

// A command without arguments of its own, run by `Handler`.
template<CommandResult<void> (*Handler)(CommandContext const&)>
class PlainCommand final : public Command {
public:
    void declare(Declaration&) override { }
    CommandResult<void> run(CommandContext const& context) override { return Handler(context); }
};

// A row of the command table: a command or a command group by its path
// ("assessment create"), its help text, and for a command how to make it. A
// group has no maker; it needs one of the commands below it.
struct CommandEntry {
    std::string_view path;
    std::string_view help;
    std::unique_ptr<Command> (*make)() { nullptr };
};

// Every command and group, parents before their commands.
std::span<CommandEntry const> command_table();

} // namespace corvellactl

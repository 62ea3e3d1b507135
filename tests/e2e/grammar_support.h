#pragma once

// The command-line grammar as the program's own --help shows it and as the
// manual page declares it, read into one form so that the manual and the
// shell completions can be held to the help. Header-only, after
// run_support.h.

#include "run_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// Commands the manual and the completions already declare but this build
// does not have yet. Once a command is in the program, remove it here: the
// tests then hold its manual section and its completion to its --help (and
// fail, naming it, until it is removed).
inline std::vector<std::string> const documented_ahead {};

inline bool is_documented_ahead(std::string const& path)
{
    return std::find(documented_ahead.begin(), documented_ahead.end(), path) != documented_ahead.end();
}

// One option (a name beginning with "--") or positional argument.
struct Argument {
    std::string name;
    std::string value_name; // empty for a flag
    std::string default_value; // empty when there is none
    std::vector<std::string> choices; // the fixed values, when the option has some
    std::string text; // everything said about it, for looking up words
};

// A command or group by its path ("" is the program itself,
// "assessment create" a command inside a group).
struct Command {
    std::vector<std::string> subcommands;
    std::vector<Argument> options;
    std::vector<Argument> positionals;

    Argument const* option(std::string_view name) const
    {
        for (auto const& option : options) {
            if (option.name == name)
                return &option;
        }
        return nullptr;
    }
};

using Grammar = std::map<std::string, Command>;

inline std::string join_path(std::string const& path, std::string const& word)
{
    return path.empty() ? word : path + " " + word;
}

inline std::vector<std::string> split_words(std::string_view text)
{
    std::vector<std::string> words;
    std::istringstream stream { std::string(text) };
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// One entry of a help section, "  --name VALUE:TYPE=default  description":
// the part before the first run of two blanks.
inline Argument argument_from_help(std::string_view entry)
{
    std::string_view spec = entry.substr(0, entry.find("  "));
    auto const words = split_words(spec);
    Argument argument;
    // "-h,--help" is known by its long name.
    std::string_view names = words.at(0);
    auto const comma = names.rfind(',');
    argument.name = std::string(comma == std::string_view::npos ? names : names.substr(comma + 1));
    argument.text = std::string(entry);
    if (words.size() < 2 || words[1] == "REQUIRED")
        return argument;
    std::string_view value = words[1];
    argument.value_name = std::string(value.substr(0, value.find_first_of(":=")));
    auto const open = value.find('{');
    auto const close = value.find('}');
    if (open != std::string_view::npos && close != std::string_view::npos) {
        std::string_view list = value.substr(open + 1, close - open - 1);
        for (std::size_t start = 0; start <= list.size();) {
            auto const end = std::min(list.find(',', start), list.size());
            argument.choices.emplace_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    auto const equals = value.find('=', close == std::string_view::npos ? 0 : close);
    if (equals != std::string_view::npos)
        argument.default_value = std::string(value.substr(equals + 1));
    return argument;
}

// Reads the sections of one --help text.
inline Command command_from_help(std::string const& help)
{
    Command command;
    enum class Section { None, Options, Positionals, Subcommands } section = Section::None;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (line == "Options:")
            section = Section::Options;
        else if (line == "Positionals:")
            section = Section::Positionals;
        else if (line == "Subcommands:")
            section = Section::Subcommands;
        else if (line.empty() || line[0] != ' ')
            section = Section::None;
        if (section == Section::None || line.size() < 3 || line.compare(0, 2, "  ") != 0)
            continue;
        // Entries start after two blanks; a description that does not fit
        // beside its entry goes on the next line, much further in.
        if (line[2] == ' ') {
            auto& entries = section == Section::Options ? command.options : command.positionals;
            if (section != Section::Subcommands && !entries.empty())
                entries.back().text += " " + line.substr(line.find_first_not_of(' '));
            continue;
        }
        std::string_view const entry = std::string_view(line).substr(2);
        switch (section) {
        case Section::Options:
            command.options.push_back(argument_from_help(entry));
            break;
        case Section::Positionals:
            command.positionals.push_back(argument_from_help(entry));
            break;
        case Section::Subcommands:
            command.subcommands.push_back(split_words(entry).at(0));
            break;
        case Section::None:
            break;
        }
    }
    return command;
}

// The whole grammar of the built program, from "--help" of every command and
// group in turn.
inline Grammar grammar_from_help()
{
    Grammar grammar;
    ScratchDirectory directory;
    std::vector<std::string> pending { "" };
    while (!pending.empty()) {
        std::string const path = pending.back();
        pending.pop_back();
        auto arguments = split_words(path);
        arguments.emplace_back("--help");
        auto const result = run(directory.path(), arguments);
        if (result.status != 0)
            ADD_FAILURE() << path << " --help exited with " << result.status << ": " << result.err;
        Command command = command_from_help(result.out);
        for (auto const& subcommand : command.subcommands)
            pending.push_back(join_path(path, subcommand));
        grammar[path] = std::move(command);
    }
    return grammar;
}

// The text of a roff line of the man(7) macros: font and quoting macros
// joined as they print, escapes as the characters they stand for.
inline std::string roff_text(std::string_view line)
{
    std::string text;
    std::string_view rest = line;
    bool alternating = false;
    if (!rest.empty() && rest.front() == '.') {
        auto const space = rest.find(' ');
        std::string_view const macro = rest.substr(1, space == std::string_view::npos ? rest.size() : space - 1);
        if (macro != "B" && macro != "I" && macro != "BI" && macro != "BR" && macro != "IR" && macro != "RB"
            && macro != "RI" && macro != "IB")
            return {};
        alternating = macro.size() == 2;
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        // Split into arguments, a quoted one keeping its blanks.
        std::vector<std::string> arguments;
        while (!rest.empty()) {
            if (rest.front() == ' ') {
                rest.remove_prefix(1);
                continue;
            }
            if (rest.front() == '"') {
                auto const end = rest.find('"', 1);
                arguments.emplace_back(rest.substr(1, end - 1));
                rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
                continue;
            }
            auto const end = rest.find(' ');
            arguments.emplace_back(rest.substr(0, end));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        }
        std::string joined;
        for (std::size_t index = 0; index < arguments.size(); ++index) {
            if (index > 0 && !alternating)
                joined += ' ';
            joined += arguments[index];
        }
        return roff_text(joined);
    }
    constexpr std::pair<std::string_view, std::string_view> escapes[] = {
        { "\\-", "-" },    { "\\fB", "" },     { "\\fI", "" },     { "\\fR", "" },   { "\\fP", "" },
        { "\\&", "" },     { "\\%", "" },      { "\\e", "\\" },    { "\\(em", "\u2014" },
        { "\\(lq", "\u201c" }, { "\\(rq", "\u201d" }, { "\\(ga", "`" }, { "\\(dq", "\"" },
    };
    for (std::size_t index = 0; index < rest.size();) {
        bool replaced = false;
        for (auto const& [escape, character] : escapes) {
            if (rest.substr(index, escape.size()) == escape) {
                text += character;
                index += escape.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            text += rest[index++];
    }
    return text;
}

// The grammar the manual page declares: ".SS <command path>" per command
// (the program's own options under ".SH OPTIONS"), one ".TP" item per option
// or positional, whose tag is "--name VALUE" or the positional's name, and
// whose text says "Default: <value>." where it has one.
inline Grammar grammar_from_manual(std::filesystem::path const& page)
{
    Grammar grammar;
    std::istringstream lines(test_support::read_file(page));
    std::string section;
    std::string path;
    bool in_command = false;
    Argument* item = nullptr;
    bool tag_next = false;
    auto const finish_item = [&] {
        if (item == nullptr)
            return;
        auto const at = item->text.find("Default:");
        if (at != std::string::npos) {
            auto const words = split_words(std::string_view(item->text).substr(at + 8));
            if (!words.empty())
                item->default_value = words.front();
            if (!item->default_value.empty() && item->default_value.back() == '.')
                item->default_value.pop_back();
        }
        item = nullptr;
    };
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".\\\"", 0) == 0)
            continue;
        if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
            finish_item();
            std::string title = line.substr(4);
            title.erase(std::remove(title.begin(), title.end(), '"'), title.end());
            if (line[2] == 'H') {
                section = title;
                in_command = section == "OPTIONS";
                path.clear();
            } else {
                in_command = section == "COMMANDS";
                path = title;
            }
            if (in_command) {
                grammar[path];
                // Each group lists the commands beneath it.
                auto const words = split_words(path);
                std::string parent;
                for (auto const& word : words) {
                    auto& subcommands = grammar[parent].subcommands;
                    if (std::find(subcommands.begin(), subcommands.end(), word) == subcommands.end())
                        subcommands.push_back(word);
                    parent = join_path(parent, word);
                }
            }
            continue;
        }
        if (!in_command)
            continue;
        if (line == ".TP") {
            finish_item();
            tag_next = true;
            continue;
        }
        if (tag_next) {
            tag_next = false;
            std::string const tag = roff_text(line);
            auto const words = split_words(tag);
            Argument argument;
            argument.text = tag + "\n";
            if (tag.rfind("-", 0) == 0) {
                // "-h, --help" is known by its long name.
                argument.name = words.back().rfind("--", 0) == 0 ? words.back() : words.at(0);
                if (words.size() > 1 && words[1].rfind("-", 0) != 0)
                    argument.value_name = words[1];
                grammar[path].options.push_back(argument);
                item = &grammar[path].options.back();
            } else {
                argument.name = tag;
                argument.value_name = tag;
                grammar[path].positionals.push_back(argument);
                item = &grammar[path].positionals.back();
            }
            continue;
        }
        if (item != nullptr)
            item->text += roff_text(line) + "\n";
    }
    finish_item();
    return grammar;
}

inline std::filesystem::path manual_page()
{
    return std::filesystem::path(CORVELLA_SOURCE_DIR) / "man" / "corvellactl.1";
}

// The grammar the program declares, with the commands documented ahead taken
// from the manual until the program has them: what the completions offer.
inline Grammar declared_grammar()
{
    Grammar grammar = grammar_from_help();
    Grammar const manual = grammar_from_manual(manual_page());
    for (auto const& path : documented_ahead) {
        if (grammar.count(path) > 0 || manual.count(path) == 0)
            continue;
        Command command = manual.at(path);
        Argument help;
        help.name = "--help";
        command.options.insert(command.options.begin(), help);
        grammar[path] = command;
        std::string parent;
        for (auto const& word : split_words(path)) {
            auto& subcommands = grammar[parent].subcommands;
            if (std::find(subcommands.begin(), subcommands.end(), word) == subcommands.end())
                subcommands.push_back(word);
            parent = join_path(parent, word);
        }
    }
    return grammar;
}

} // namespace e2e

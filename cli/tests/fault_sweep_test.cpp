// Every command that writes, run with a fault injected into each of its file
// operations in turn (the first open, then the second, ... until a run
// passes without meeting the fault; then the same for reads, writes, flushes
// and renames). After every run: the data files are the old ones or the new
// ones, each readable; a result line is printed only when the files hold
// what it names; a failure is one error line and changes no record; nothing
// is left beside the files.

#include "cli.h"
#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/state.h"

#include "chain_reference.h"
#include "fault_plan.h"
#include "scratch_files.h"
#include "test_support.h"

#include "quenmark/integrity/audit_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using test_support::Names;
using test_support::ScratchDirectory;

constexpr char const* state_file = "corvella-state.json";
constexpr char const* key_file = "corvella-signing-key.hex";
constexpr char const* audit_file = "corvella-audit.json";
constexpr char const* questions_file = "questions.json";
constexpr char const* cohort_file = "cohort.csv";
constexpr char const* answers_file = "answers.csv";
constexpr char const* completions_file = "completions.csv";
// The files beside the data files that the commands read.
constexpr char const* input_files[] = { questions_file, cohort_file, answers_file, completions_file };

struct Outcome {
    std::string out;
    std::optional<std::string> error; // the text after "Error: "
};

// Runs one command in-process on the data files of `directory`, with its
// standard output caught in a file.
Outcome run(std::filesystem::path const& directory, std::vector<std::string> arguments)
{
    std::vector<std::string> line { "--state", (directory / state_file).string(), "--key",
                                    (directory / key_file).string(), "--audit", (directory / audit_file).string() };
    line.insert(line.end(), arguments.begin(), arguments.end());
    std::vector<char const*> argv;
    for (auto const& argument : line)
        argv.push_back(argument.c_str());
    std::ostringstream ignored;
    auto const cli = corvellactl::parse_command_line(argv, ignored, ignored);
    if (!cli)
        return { "", "usage: " + ignored.str() };

    std::fflush(stdout);
    std::FILE* const caught = std::tmpfile();
    int const saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(caught), STDOUT_FILENO);
    // In the directory, where relative paths lead.
    auto const working = std::filesystem::current_path();
    std::filesystem::current_path(directory);
    auto const result = corvellactl::run_command(*cli);
    std::filesystem::current_path(working);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    Outcome outcome;
    std::rewind(caught);
    char buffer[4096];
    while (std::size_t const count = std::fread(buffer, 1, sizeof buffer, caught))
        outcome.out.append(buffer, count);
    std::fclose(caught);
    if (!result)
        outcome.error = result.error().text();
    return outcome;
}

// The word after `prefix` on the first line that starts with it.
std::string word_after(std::string const& text, std::string const& prefix)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size());
    }
    return {};
}

using Files = std::map<std::string, std::string>;

Files data_files(std::filesystem::path const& directory)
{
    Files files;
    for (auto const* name : { state_file, key_file, audit_file }) {
        if (std::filesystem::is_regular_file(directory / name))
            files[name] = test_support::read_file(directory / name);
    }
    return files;
}

// A directory of data files to start each run from: a published assessment,
// an open assignment, a completed one with its completion record, and a
// certificate, made by the commands themselves.
struct Base {
    ScratchDirectory directory;
    std::string assessment;
    std::string open_assignment;
    std::string completion;
    std::string certificate;
};

void make_base(Base& base)
{
    auto const& path = base.directory.path();
    test_support::write_file(path / questions_file, R"([{"prompt":"One?","choices":["a","b"],"correct_index":0},)"
                                                    R"({"prompt":"Two?","choices":["a","b"],"correct_index":1}])");
    auto const created = run(path, { "assessment", "create", "--title", "Sweep", "--min-correct", "2",
                                     "--attempt-limit", "100", "--questions", (path / questions_file).string() });
    base.assessment = word_after(created.out, "created assessment ");
    ASSERT_FALSE(run(path, { "assessment", "publish", base.assessment }).error);
    auto const done = word_after(run(path, { "assign", "--assessment-id", base.assessment }).out, "created assignment ");
    base.completion = word_after(run(path, { "attempt", "--assignment-id", done, "--answers", "0,1" }).out,
                                 "completion recorded: ");
    base.certificate = word_after(run(path, { "certify", "--completion-id", base.completion }).out,
                                  "issued certificate ");
    base.open_assignment
        = word_after(run(path, { "assign", "--assessment-id", base.assessment }).out, "created assignment ");
    ASSERT_FALSE(base.certificate.empty());
    ASSERT_FALSE(base.open_assignment.empty());
    test_support::write_file(path / cohort_file, "principal_id,due_in_days\nnew,3\n,\nnew,-1\n");
    test_support::write_file(path / answers_file,
                             "assignment_id,answers\n" + base.open_assignment + ",\"1,0\"\n" + base.open_assignment
                                 + ",\"0,1\"\n");
    test_support::write_file(path / completions_file, "completion_id\n" + base.completion + "\n" + base.completion + "\n");
}

struct Scenario {
    std::string name;
    std::vector<std::string> arguments;
    // Data files removed from the base before the run.
    Names without {};
    // Events a completed run appends.
    std::size_t events { 0 };
    // The --output file it writes (its arguments name it, relative to the run's directory).
    char const* output { nullptr };
};

std::vector<Scenario> scenarios(Base const& base)
{
    return {
        { "assessment create",
          { "assessment", "create", "--title", "T", "--min-correct", "1", "--questions",
            (base.directory / questions_file).string() } },
        { "assessment publish", { "assessment", "publish", base.assessment } },
        { "assign", { "assign", "--assessment-id", base.assessment }, {}, 1 },
        { "assign, first key and chain", { "assign", "--assessment-id", base.assessment }, { key_file, audit_file }, 1 },
        { "attempt, failed", { "attempt", "--assignment-id", base.open_assignment, "--answers", "1,0" }, {}, 1 },
        { "attempt, passed", { "attempt", "--assignment-id", base.open_assignment, "--answers", "0,1" }, {}, 2 },
        { "certify", { "certify", "--completion-id", base.completion }, {}, 1 },
        { "verify, invalid", { "verify", "--certificate-id", base.certificate, "--at", "2999-01-01T00:00:00Z" }, {}, 1 },
        { "revoke", { "revoke", "--certificate-id", base.certificate, "--reason", "issued in error" }, {}, 1 },
        { "audit verify, first key", { "audit", "verify" }, { key_file, audit_file } },
        { "credential export", { "credential", "export", "--certificate-id", base.certificate, "--output",
                                 "credential.json" }, {}, 0, "credential.json" },
        { "audit checkpoint", { "audit", "checkpoint", "--output", "checkpoint.txt" }, {}, 0, "checkpoint.txt" },
        { "batch assign",
          { "batch", "assign", "--assessment-id", base.assessment, (base.directory / cohort_file).string() }, {}, 3 },
        { "batch attempt", { "batch", "attempt", (base.directory / answers_file).string() }, {}, 3 },
        { "batch certify", { "batch", "certify", (base.directory / completions_file).string() }, {}, 2 },
    };
}

void copy_base(Base const& base, Scenario const& scenario, std::filesystem::path const& to)
{
    for (auto const* name : { state_file, key_file, audit_file }) {
        if (std::find(scenario.without.begin(), scenario.without.end(), name) == scenario.without.end())
            std::filesystem::copy_file(base.directory / name, to / name);
    }
    for (auto const* name : input_files)
        std::filesystem::copy_file(base.directory / name, to / name);
}

// Checks what a run left: every file readable and nothing beside them; a
// failure with one error line, no output and no record changed; a success
// with its output and every record it names stored and audited.
void check_run(Scenario const& scenario, Files const& before, std::filesystem::path const& directory,
               Outcome const& outcome)
{
    Names allowed { audit_file, key_file, state_file };
    allowed.insert(allowed.end(), std::begin(input_files), std::end(input_files));
    if (scenario.output != nullptr) {
        allowed.emplace_back(scenario.output);
        // Written whole when the run succeeded, not at all otherwise.
        EXPECT_EQ(std::filesystem::exists(directory / scenario.output), !outcome.out.empty());
    }
    for (auto const& name : test_support::entries(directory))
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << "left behind: " << name;

    auto const state_path = (directory / state_file).string();
    auto const audit_path = (directory / audit_file).string();
    auto const store = corvellactl::load_store(state_path);
    ASSERT_TRUE(test_support::has_value(store));
    std::size_t chain_length = 0;
    if (std::filesystem::exists(directory / key_file)) {
        auto const key = corvellactl::load_key((directory / key_file).string());
        ASSERT_TRUE(test_support::has_value(key));
        EXPECT_EQ(std::filesystem::status(directory / key_file).permissions(), std::filesystem::perms::owner_read
                                                                                   | std::filesystem::perms::owner_write);
        auto const verified = corvellactl::verify_chain_file(audit_path, key->verifying_key());
        ASSERT_TRUE(test_support::has_value(verified));
        chain_length = verified->entries;
    }

    auto const after = data_files(directory);
    bool const verify_reported = outcome.out.rfind("INVALID", 0) == 0
        && outcome.error.value_or("").find(" failed verification: ") != std::string::npos;
    if (outcome.out.empty()) {
        // A failure: one line, and no record changed; only a key may have
        // been created where there was none.
        ASSERT_TRUE(outcome.error.has_value());
        EXPECT_FALSE(outcome.error->empty());
        EXPECT_EQ(outcome.error->find('\n'), std::string::npos) << *outcome.error;
        for (auto const& [name, content] : after) {
            if (before.count(name) != 0) {
                EXPECT_TRUE(content == before.at(name)) << name << " changed by a failed run";
            } else {
                EXPECT_EQ(name, key_file) << name << " created by a failed run";
            }
        }
        for (auto const& [name, content] : before)
            EXPECT_EQ(after.count(name), 1u) << name << " removed by a failed run";
        return;
    }

    EXPECT_TRUE(!outcome.error || verify_reported) << *outcome.error;
    auto const entries = test_support::load_chain(audit_path);
    ASSERT_TRUE(test_support::has_value(entries));
    std::size_t const old_length = before.count(audit_file) != 0 ? quenmark::parse_chain(before.at(audit_file))->size()
                                                                   : 0;
    EXPECT_EQ(chain_length, old_length + scenario.events);
    auto const audited = [&entries](std::string const& action, std::string const& target) {
        return std::any_of(entries->begin(), entries->end(), [&](quenmark::SignedAuditEvent const& entry) {
            return entry.event.action == action && entry.event.target.target_id == target;
        });
    };
    auto const has = [](auto const& list, std::string const& id, auto id_of) {
        return std::any_of(list.begin(), list.end(), [&](auto const& record) { return id_of(record) == id; });
    };
    std::istringstream lines(outcome.out);
    for (std::string out; std::getline(lines, out);) {
    if (auto const id = word_after(out, "created assessment "); !id.empty()) {
        EXPECT_TRUE(has(store->assessments, id, [](auto const& record) { return record.id.to_string(); }));
    }
    if (auto const id = word_after(out, "published assessment "); !id.empty()) {
        EXPECT_TRUE(std::any_of(store->assessments.begin(), store->assessments.end(), [&](auto const& record) {
            return record.id.to_string() == id && record.status == corvella::AssessmentStatus::Published;
        }));
    }
    if (auto const id = word_after(out, "created assignment "); !id.empty()) {
        EXPECT_TRUE(has(store->assignments, id, [](auto const& record) { return record.id.to_string(); }));
        EXPECT_TRUE(audited("training.assignment.created", id));
    }
    if (auto const id = word_after(out, "attempt "); !id.empty()) {
        EXPECT_TRUE(has(store->attempts, id, [](auto const& record) { return record.id.to_string(); }));
        EXPECT_TRUE(audited("training.knowledge_check.attempted", id));
    }
    if (auto const id = word_after(out, "completion recorded: "); !id.empty()) {
        EXPECT_TRUE(has(store->completions, id, [](auto const& record) { return record.id.to_string(); }));
    }
    if (auto const id = word_after(out, "issued certificate "); !id.empty()) {
        EXPECT_TRUE(has(store->certificates, id,
                        [](auto const& record) { return record.payload.certificate_id.to_string(); }));
        EXPECT_TRUE(audited("training.certificate.issued", id));
    }
    if (verify_reported) {
        EXPECT_TRUE(audited("training.certificate.verification_failed", word_after(out, "INVALID \u2014 certificate ")));
    }
    }
}

TEST(FaultSweep, EveryFailingFileOperationOfEveryWritingCommand)
{
    Base base;
    make_base(base);
    ASSERT_FALSE(HasFatalFailure());

    std::map<std::string_view, std::uint64_t> faults;
    std::uint64_t runs = 0;
    for (auto const& scenario : scenarios(base)) {
        for (auto const operation : fault_plan::every_operation) {
            for (std::uint64_t nth = 1;; ++nth) {
                SCOPED_TRACE(scenario.name + ": " + std::string(fault_plan::name(operation)) + " " + std::to_string(nth)
                             + " fails");
                ScratchDirectory directory;
                copy_base(base, scenario, directory.path());
                auto const before = data_files(directory.path());
                fault_plan::Plan plan { .operation = operation, .nth = nth,
                                        .error = fault_plan::typical_error(operation) };
                auto const outcome = [&] {
                    fault_plan::Injected const injected(plan);
                    return run(directory.path(), scenario.arguments);
                }();
                ++runs;
                check_run(scenario, before, directory.path(), outcome);
                if (!plan.fired) {
                    // The command met no fault and must have done its work.
                    EXPECT_FALSE(outcome.out.empty()) << outcome.error.value_or("");
                    break;
                }
                ++faults[fault_plan::name(operation)];
                ASSERT_LT(nth, 1000u) << "the command never runs out of file operations";
            }
        }
    }
    std::uint64_t total = 0;
    std::string by_operation;
    for (auto const& [operation, count] : faults) {
        total += count;
        by_operation += (by_operation.empty() ? "" : ", ") + std::string(operation) + " " + std::to_string(count);
    }
    std::cout << "fault sweep: " << total << " faults injected (" << by_operation << ") in " << runs << " runs of "
              << scenarios(base).size()
              << " commands; no record announced and missing, no file unreadable, nothing left behind\n";
}

// The real file system refuses the renames when a data file was replaced by
// a directory after it was read: nothing is printed and nothing changes.
TEST(FaultSweep, ADataFileReplacedByADirectoryBeforeTheRenames)
{
    Base base;
    make_base(base);
    ASSERT_FALSE(HasFatalFailure());
    for (auto const& scenario : scenarios(base)) {
        if (scenario.events == 0 || !scenario.without.empty())
            continue;
        for (auto const* replaced : { state_file, audit_file }) {
            if (scenario.name.rfind("verify", 0) == 0 && replaced == std::string(state_file))
                continue;
            SCOPED_TRACE(scenario.name + ", " + replaced + " replaced by a directory");
            ScratchDirectory directory;
            copy_base(base, scenario, directory.path());
            auto before = data_files(directory.path());
            auto const path = directory / replaced;
            fault_plan::Plan plan { .operation = fault_plan::FileOperation::Rename,
                                    .before = [&](std::uint64_t call) {
                                        if (call != 1)
                                            return;
                                        std::filesystem::remove(path);
                                        std::filesystem::create_directory(path);
                                    } };
            auto const outcome = [&] {
                fault_plan::Injected const injected(plan);
                return run(directory.path(), scenario.arguments);
            }();
            EXPECT_EQ(outcome.out, "");
            EXPECT_EQ(outcome.error.value_or(""), "io error: Is a directory");
            before.erase(replaced);
            auto after = data_files(directory.path());
            EXPECT_TRUE(after == before);
            Names expected { audit_file, key_file, state_file };
            expected.insert(expected.end(), std::begin(input_files), std::end(input_files));
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(test_support::entries(directory.path()), expected);
        }
    }
}

} // namespace

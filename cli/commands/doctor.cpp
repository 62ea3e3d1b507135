#include "command.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/read.h"
#include "store/state.h"

#include <memory>
#include <cstdint>
#include <string>

namespace corvellactl {
namespace {

// What one check found: its result when it passes, or the text of the
// problem when it fails.
using Check = quenmark::Expected<Results, std::string>;

// A passing check's result: its line, or with --json an object naming the
// check and its status.
template<typename Fill>
Results passed(CommandContext const& context, std::string_view line, std::string_view check, std::string_view status,
               Fill const& fill)
{
    Results results(context.format);
    results.add(line, "check", [&](JsonObject& object) {
        object.text("check", check).text("status", status);
        fill(object);
    });
    return results;
}

Check check_state(CommandContext const& context)
{
    auto const store = load_store_with_progress(context.state_path);
    if (!store)
        return quenmark::unexpected("state file: " + store.error().text());
    return passed(context,
                  concat("state file    : ok (", store->assessments.size(), " assessments, ", store->assignments.size(),
                         " assignments, ", store->attempts.size(), " attempts, ", store->completions.size(),
                         " completions, ", store->certificates.size(), " certificates)\n"),
                  "state_file", "ok", [&](JsonObject& object) {
                      object.number("assessments", std::uint64_t { store->assessments.size() })
                          .number("assignments", std::uint64_t { store->assignments.size() })
                          .number("attempts", std::uint64_t { store->attempts.size() })
                          .number("completions", std::uint64_t { store->completions.size() })
                          .number("certificates", std::uint64_t { store->certificates.size() });
                  });
}

Check check_key(CommandContext const& context)
{
    auto const path = [&context](JsonObject& object) { object.text("path", context.key_path); };
    if (!path_exists(context.key_path)) {
        return passed(context, "signing key   : not yet created (generated on first mutating command)\n",
                      "signing_key", "not_yet_created", path);
    }
    auto const key = load_key(context.key_path);
    if (!key)
        return quenmark::unexpected("signing key: " + key.error().text());
    return passed(context, "signing key   : ok (" + context.key_path + ")\n", "signing_key", "ok", path);
}

// With an audit file present the key is obtained as every command obtains
// it, so a missing key file is created here.
Check check_audit(CommandContext const& context)
{
    if (!path_exists(context.audit_path)) {
        return passed(context, "audit chain   : empty (no mutating command run yet)\n", "audit_chain", "empty",
                      [](JsonObject& object) { object.number("events", std::uint64_t { 0 }); });
    }
    auto const key = load_or_create_key_locking(context.key_path);
    if (!key)
        return quenmark::unexpected("audit chain: " + key.error().text());
    auto const count = verify_chain_with_progress(context.audit_path, key->verifying_key());
    if (!count)
        return quenmark::unexpected("audit chain: " + count.error().text());
    return passed(context, concat("audit chain   : ok (", count->entries, " events verified)\n"), "audit_chain", "ok",
                  [&](JsonObject& object) { object.number("events", count->entries); });
}

// Each passing check prints its line at once; the problems are reported
// together after the last check.
CommandResult<void> run_doctor(CommandContext const& context)
{
    std::string problems;
    std::uint64_t problem_count = 0;
    for (auto const check : { check_state, check_key, check_audit }) {
        auto const found = check(context);
        if (found) {
            TRY(print(*found));
            continue;
        }
        append_parts(problems, "PROBLEM: ", found.error(), '\n');
        ++problem_count;
    }
    if (problem_count == 0) {
        Results results(context.format);
        results.add("doctor        : all checks passed\n", "doctor",
                    [](JsonObject& object) { object.text("status", "all_checks_passed"); });
        return print(results);
    }
    TRY(print_to_stderr(problems));
    return quenmark::unexpected(CommandError::message(concat(problem_count, " problem(s) found")));
}

} // namespace

std::unique_ptr<Command> make_doctor() { return std::make_unique<PlainCommand<run_doctor>>(); }

} // namespace corvellactl

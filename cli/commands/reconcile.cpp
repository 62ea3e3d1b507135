#include "command.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/state.h"

#include "corvella/reconcile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvellactl {
namespace {

// The key that the chain and the certificates are checked with. It is never
// created here: without a key file only a state without certificates and an
// absent chain can be checked, and then no key is needed.
CommandResult<quenmark::VerifyingKey> checking_key(CommandContext const& context, Store const& store)
{
    if (path_exists(context.key_path))
        return TRY(load_key(context.key_path)).verifying_key();
    if (path_exists(context.audit_path) || !store.certificates.empty()) {
        return quenmark::unexpected(CommandError::message(
            concat("no signing key at ", context.key_path,
                   ": the audit chain and the certificates cannot be checked without it")));
    }
    return quenmark::VerifyingKey {};
}

// Holds the state file to the audit chain: each finding is a "PROBLEM: "
// line on standard error, then the summary line, and the command fails when
// there is any.
CommandResult<void> run_audit_reconcile(CommandContext const& context)
{
    // The chain is replaced just before the state file; under the lock both
    // are seen as a finished command left them.
    auto const lock = TRY(lock_data_files(context));
    auto const store = TRY(load_store_with_progress(context.state_path));
    auto const key = TRY(checking_key(context, store));
    auto const chain = TRY(load_verified_chain(context.audit_path, key));
    auto const problems = corvella::reconcile(
        { store.assignments, store.attempts, store.completions, store.certificates }, chain, key);

    std::string problem_lines;
    for (auto const& problem : problems)
        append_parts(problem_lines, "PROBLEM: ", problem, '\n');
    TRY(print_to_stderr(problem_lines));
    std::uint64_t const records = store.assignments.size() + store.attempts.size() + store.completions.size()
        + store.certificates.size();
    std::uint64_t const events = chain.size();
    std::uint64_t const problem_count = problems.size();
    Results results(context.format);
    results.add(problems.empty()
                    ? concat("state file and audit chain agree: ", records, " record(s), ", events, " event(s)\n")
                    : concat("state file and audit chain disagree: ", problem_count, " problem(s) in ", records,
                             " record(s), ", events, " event(s)\n"),
                "reconciliation", [&](JsonObject& object) {
                    object.number("records", records).number("events", events).number("problems", problem_count);
                });
    TRY(print(results));
    if (!problems.empty())
        return quenmark::unexpected(CommandError::message(concat(problem_count, " problem(s) found")));
    return {};
}

} // namespace

std::unique_ptr<Command> make_audit_reconcile() { return std::make_unique<PlainCommand<run_audit_reconcile>>(); }

} // namespace corvellactl

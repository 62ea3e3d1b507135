#include "commands/commands.h"

#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/read.h"
#include "store/state.h"

#include <cstdint>
#include <string>

namespace corvellactl {
namespace {

// What one check found: the line printed when it passes, or the text of the
// problem when it fails.
using Check = quenmark::Expected<std::string, std::string>;

Check check_state(CommandContext const& context)
{
    auto const store = load_store_with_progress(context.state_path);
    if (!store)
        return quenmark::unexpected("state file: " + store.error().text());
    return concat("state file    : ok (", store->assessments.size(), " assessments, ", store->assignments.size(),
                  " assignments, ", store->attempts.size(), " attempts, ", store->completions.size(),
                  " completions, ", store->certificates.size(), " certificates)\n");
}

Check check_key(CommandContext const& context)
{
    if (!path_exists(context.key_path))
        return std::string("signing key   : not yet created (generated on first mutating command)\n");
    auto const key = load_key(context.key_path);
    if (!key)
        return quenmark::unexpected("signing key: " + key.error().text());
    return "signing key   : ok (" + context.key_path + ")\n";
}

// With an audit file present the key is obtained as every command obtains
// it, so a missing key file is created here.
Check check_audit(CommandContext const& context)
{
    if (!path_exists(context.audit_path))
        return std::string("audit chain   : empty (no mutating command run yet)\n");
    auto const key = load_or_create_key_locking(context.key_path);
    if (!key)
        return quenmark::unexpected("audit chain: " + key.error().text());
    auto const count = verify_chain_with_progress(context.audit_path, key->verifying_key());
    if (!count)
        return quenmark::unexpected("audit chain: " + count.error().text());
    return concat("audit chain   : ok (", *count, " events verified)\n");
}

} // namespace

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
    if (problem_count == 0)
        return print("doctor        : all checks passed\n");
    TRY(print_to_stderr(problems));
    return quenmark::unexpected(CommandError::message(concat(problem_count, " problem(s) found")));
}

} // namespace corvellactl

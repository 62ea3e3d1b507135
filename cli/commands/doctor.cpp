#include "commands/commands.h"

#include "output.h"
#include "store/chain_file.h"
#include "store/files.h"
#include "store/key_file.h"
#include "store/state.h"

#include "quenmark/text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvellactl {
namespace {

// The texts of the failed checks, in check order.
using Problems = std::vector<std::string>;

CommandResult<void> check_state(CommandContext const& context, Problems& problems)
{
    auto const store = load_store(context.state_path);
    if (!store) {
        problems.push_back("state file: " + store.error().text());
        return {};
    }
    std::string line = "state file    : ok (";
    quenmark::append_decimal(line, std::uint64_t { store->assessments.size() });
    line += " assessments, ";
    quenmark::append_decimal(line, std::uint64_t { store->assignments.size() });
    line += " assignments, ";
    quenmark::append_decimal(line, std::uint64_t { store->attempts.size() });
    line += " attempts, ";
    quenmark::append_decimal(line, std::uint64_t { store->completions.size() });
    line += " completions, ";
    quenmark::append_decimal(line, std::uint64_t { store->certificates.size() });
    line += " certificates)\n";
    return print(line);
}

CommandResult<void> check_key(CommandContext const& context, Problems& problems)
{
    if (!path_exists(context.key_path))
        return print("signing key   : not yet created (generated on first mutating command)\n");
    auto const key = load_key(context.key_path);
    if (!key) {
        problems.push_back("signing key: " + key.error().text());
        return {};
    }
    return print("signing key   : ok (" + context.key_path + ")\n");
}

// With an audit file present the key is obtained as every command obtains
// it, so a missing key file is created here.
CommandResult<void> check_audit(CommandContext const& context, Problems& problems)
{
    if (!path_exists(context.audit_path))
        return print("audit chain   : empty (no mutating command run yet)\n");
    auto const key = load_or_create_key(context.key_path);
    if (!key) {
        problems.push_back("audit chain: " + key.error().text());
        return {};
    }
    auto const count = verify_chain_file(context.audit_path, key->verifying_key());
    if (!count) {
        problems.push_back("audit chain: " + count.error().text());
        return {};
    }
    std::string line = "audit chain   : ok (";
    quenmark::append_decimal(line, *count);
    line += " events verified)\n";
    return print(line);
}

} // namespace

CommandResult<void> run_doctor(CommandContext const& context)
{
    Problems problems;
    TRY(check_state(context, problems));
    TRY(check_key(context, problems));
    TRY(check_audit(context, problems));
    if (problems.empty())
        return print("doctor        : all checks passed\n");

    std::string report;
    for (auto const& problem : problems)
        report += "PROBLEM: " + problem + "\n";
    TRY(print_to_stderr(report));
    std::string summary;
    quenmark::append_decimal(summary, std::uint64_t { problems.size() });
    summary += " problem(s) found";
    return quenmark::unexpected(CommandError::message(std::move(summary)));
}

} // namespace corvellactl

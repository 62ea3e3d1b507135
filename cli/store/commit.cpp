#include "store/commit.h"

#include "store/replace.h"

#include "quenmark/integrity/cores.h"

#include <array>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace corvellactl {

namespace {

// A store of fewer records is written after the chain, on the one thread:
// the second would save little.
constexpr std::size_t smallest_store_written_beside = 4096;

std::size_t records_in(Store const& store)
{
    return store.assessments.size() + store.assignments.size() + store.attempts.size() + store.completions.size()
        + store.certificates.size();
}

} // namespace

CommandResult<void> commit_chain_and_store(ChainAppender& chain, std::function<CommandResult<void>()> const& append,
                                           std::string const& state_path, Store&& store)
{
    // The chain is replaced first. The renames follow each other at once,
    // but a crash or a power cut can still fall between them, and what it
    // leaves then is an audit chain one command ahead of the state: events
    // for records the state file does not hold. Every file still reads, the
    // chain verifies, doctor passes, and nothing was announced, since result
    // lines are printed only after both renames. The other order would leave
    // records in the state file that no audit event vouches for, and as the
    // end of the chain is not protected, nothing could ever show that their
    // events are missing. The audit chain must never be behind the records.
    std::optional<CommandResult<FileReplacement>> state_file;
    std::thread writer;
    // The writer keeps a core to itself: the chain's signatures, which take
    // less time, are made on the others.
    std::optional<quenmark::BusyThread> writing;
    if (records_in(store) >= smallest_store_written_beside) {
        try {
            writing.emplace();
            writer = std::thread([&] { state_file.emplace(prepare_store(state_path, store)); });
        } catch (std::system_error const&) {
            // Written after the chain, as a small store is.
            writing.reset();
        }
    }
    struct Join {
        std::thread& writer;
        ~Join()
        {
            if (writer.joinable())
                writer.join();
        }
    } join { writer };
    // Each step in turn, and the first failure is the one said: a temporary
    // file already written is removed as it goes out of scope.
    auto chain_file = [&]() -> CommandResult<FileReplacement> {
        TRY(append());
        return chain.prepare();
    }();
    if (writer.joinable()) {
        // The old state file, read whole before, is let go of while the new
        // one is still being written, rather than by the rename afterwards.
        if (chain_file)
            release_cached_pages(state_path);
        writer.join();
    }
    writing.reset();
    if (!chain_file)
        return quenmark::unexpected(chain_file.error());
    if (!state_file)
        state_file.emplace(prepare_store(state_path, store));
    if (!*state_file)
        return quenmark::unexpected(state_file->error());
    // One step each: leaving a half-built array early would not remove the
    // temporary file of its first element.
    std::array<FileReplacement, 2> files { std::move(*chain_file), std::move(**state_file) };
    TRY(install_together(files));
    keep_until_exit(std::move(store));
    return {};
}

} // namespace corvellactl

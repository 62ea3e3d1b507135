#include "store/commit.h"

#include "store/replace.h"

#include <array>
#include <utility>

namespace corvellactl {

CommandResult<void> commit_chain_and_store(ChainAppender& chain, std::string const& state_path, Store const& store)
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
    // One step each: leaving a half-built array early would not remove the
    // temporary file of its first element.
    auto chain_file = TRY(chain.prepare());
    auto state_file = TRY(prepare_store(state_path, store));
    std::array<FileReplacement, 2> files { std::move(chain_file), std::move(state_file) };
    return install_together(files);
}

} // namespace corvellactl

#pragma once

// How a command that changes learner records stores its changes: the new
// audit chain and the new state file are both written and flushed beside
// their files before either is replaced, and then replaced back to back.

#include "context.h"
#include "store/chain_file.h"
#include "store/state.h"

#include <string>

namespace corvellactl {

// Prepares the longer chain and the store's file form, then replaces the
// chain file and the state file back to back, the chain first. Any failure
// leaves both files as they were (see install_together()). Errors: those of
// ChainAppender::prepare() and prepare_store(), and Io when a file cannot be
// put in place.
[[nodiscard]] CommandResult<void> commit_chain_and_store(ChainAppender& chain, std::string const& state_path,
                                                         Store const& store);

} // namespace corvellactl

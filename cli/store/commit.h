#pragma once

// How a command that changes learner records stores its changes: the new
// audit chain and the new state file are both written and flushed beside
// their files before either is replaced, and then replaced back to back.

#include "context.h"
#include "store/chain_file.h"
#include "store/state.h"

#include <functional>
#include <string>

namespace corvellactl {

// Appends the command's events to the chain with `append` (calls of
// ChainAppender::append or append_all), prepares the longer chain and the
// store's file form, then replaces the chain file and the state file back
// to back, the chain first. A big store's file form is written on a second
// thread while the chain is read, extended and written; the errors are
// those of doing it all in turn: the append's, then those of
// ChainAppender::prepare(), then those of prepare_store(), and Io when a
// file cannot be put in place. Any failure leaves both files as they were
// (see install_together()). The store is the command's last use of it: once
// the files are in place it is kept until the process ends (keep_until_exit())
// rather than freed record by record.
[[nodiscard]] CommandResult<void> commit_chain_and_store(ChainAppender& chain,
                                                         std::function<CommandResult<void>()> const& append,
                                                         std::string const& state_path, Store&& store);

} // namespace corvellactl

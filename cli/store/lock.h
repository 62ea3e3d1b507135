#pragma once

// Guarding the data files: the directory lock that serialises the commands
// that write them, and the refusal of an output file that is one of them.

#include "context.h"
#include "store/system_calls.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace corvellactl {

// Exclusive advisory locks on the directories holding the given files, held
// until the lock is destroyed. Locking the directory rather than the file
// survives the rename that replaces the file. Distinct directories are locked
// in one fixed order, so two commands never wait on each other in a circle.
// A command that writes takes one lock over every file it writes before its
// first read and keeps it to its last write; the file functions themselves
// take none (a second lock on the same directory from the same process would
// wait for itself). A directory that does not exist is skipped: no file can
// be read from it and every write to it fails.
//
// Every run that creates a temporary file beside a data file holds this
// lock, so once it is taken the temporary files beside the given files (named
// as TemporaryFile names them) belong to runs that were killed: acquire()
// removes them.
class DirectoryLock {
public:
    [[nodiscard]] static CommandResult<DirectoryLock> acquire(std::initializer_list<std::string_view> paths);

private:
    DirectoryLock() = default;
    // Closing a descriptor releases its lock.
    std::vector<Descriptor> m_directories;
};

// The lock over the directories of all three data files, for a command that
// may write any of them.
[[nodiscard]] CommandResult<DirectoryLock> lock_data_files(CommandContext const& context);

// Refuses an --output that names one of the three data files (the same file
// on disk, or the same path once made absolute and normal), which writing
// the output would destroy: Message "--output must not be the state, key or
// audit file: <path>".
[[nodiscard]] CommandResult<void> refuse_data_file_as_output(CommandContext const& context, std::string const& output);

} // namespace corvellactl

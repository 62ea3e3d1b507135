#pragma once

// Guarding the files a command writes: the directory lock that serialises
// the commands that write the data files, and the --output file, which may
// be standard output or a regular file and is never a data file or anything
// else.

#include "context.h"
#include "store/system_calls.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace corvellactl {

// Exclusive advisory locks on the directories holding the given files, held
// until the lock is destroyed. Locking the directory rather than the file
// survives the rename that replaces the file. Distinct directories are locked
// in one fixed order, so two commands never wait on each other in a circle.
// A command that writes takes one lock over every file it writes before its
// first read and keeps it to its last write; the data file functions
// themselves take none. A directory that this process holds locked already
// is not locked again (a second lock on it would wait for the first), and a
// directory that does not exist is skipped: no file can be read from it and
// every write to it fails.
//
// Every run that creates a temporary file beside a data file holds this
// lock, so once it is taken the temporary files beside the given files (named
// as TemporaryFile names them) belong to runs that were killed: acquire()
// removes them.
class DirectoryLock {
public:
    [[nodiscard]] static CommandResult<DirectoryLock> acquire(std::initializer_list<std::string_view> paths);

    DirectoryLock(DirectoryLock&&) = default;
    DirectoryLock& operator=(DirectoryLock&&) = delete;
    ~DirectoryLock();

private:
    struct Held {
        dev_t device;
        ino_t inode;
        // Closing the descriptor releases the lock.
        Descriptor directory;
    };
    DirectoryLock() = default;
    std::vector<Held> m_directories;
};

// The lock over the directories of all three data files, for a command that
// may write any of them, and of the --output file it writes, if any.
[[nodiscard]] CommandResult<DirectoryLock> lock_data_files(CommandContext const& context,
                                                           std::optional<std::string> const& output = std::nullopt);

// Refuses an --output that names one of the three data files (the same file
// on disk, or the same path once made absolute and normal), which writing
// the output would destroy: Message "--output must not be the state, key or
// audit file: <path>".
[[nodiscard]] CommandResult<void> refuse_data_file_as_output(CommandContext const& context, std::string const& output);

// The file a command's --output names, checked before the command does any
// work: none (standard output) when the option is absent or "-". Otherwise
// the path, which must not be a data file (refuse_data_file_as_output()) and
// must be missing, or a regular file (or a symbolic link to one) that is not
// where the command's own standard output or error goes. Anything else, a
// device, a FIFO, a socket, a directory or a link to one, is refused with
// Message "--output cannot replace <path>: <why>; give - for standard
// output", and nothing is created.
[[nodiscard]] CommandResult<std::optional<std::string>> output_file(CommandContext const& context,
                                                                    std::optional<std::string> const& output);

// Writes the content to a file that output_file() accepted. Under the lock on
// its directory, which removes what killed runs left beside it, the path is
// checked again, then replaced atomically (replace_file()): a link is
// followed, and the file it leads to replaced.
[[nodiscard]] CommandResult<void> write_output(std::string const& path, std::string_view content);

} // namespace corvellactl

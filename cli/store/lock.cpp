#include "store/lock.h"

#include "store/replace.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace corvellactl {
namespace {

// Whether two paths name the same file: the same file on disk when both
// exist, otherwise the same path once made absolute and normal.
bool same_file(std::string const& first, std::string const& second)
{
    struct stat first_status {};
    struct stat second_status {};
    if (::stat(first.c_str(), &first_status) == 0 && ::stat(second.c_str(), &second_status) == 0)
        return first_status.st_dev == second_status.st_dev && first_status.st_ino == second_status.st_ino;
    std::error_code first_error;
    std::error_code second_error;
    auto const first_path = std::filesystem::weakly_canonical(first, first_error);
    auto const second_path = std::filesystem::weakly_canonical(second, second_error);
    return !first_error && !second_error && first_path == second_path;
}

} // namespace

CommandResult<DirectoryLock> DirectoryLock::acquire(std::initializer_list<std::string_view> paths)
{
    struct Held {
        dev_t device;
        ino_t inode;
        Descriptor directory;
    };
    std::vector<Held> held;
    for (auto const path : paths) {
        Descriptor directory(open_file(directory_of(std::string(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        // Without the directory no file can exist there and every write will
        // fail on its own, so there is nothing to guard.
        if (!directory.is_open() && (errno == ENOENT || errno == ENOTDIR))
            continue;
        struct stat status {};
        if (!directory.is_open() || ::fstat(directory.get(), &status) != 0)
            return quenmark::unexpected(CommandError::io(errno));
        bool const seen = std::any_of(held.begin(), held.end(), [&status](Held const& entry) {
            return entry.device == status.st_dev && entry.inode == status.st_ino;
        });
        if (!seen)
            held.push_back({ status.st_dev, status.st_ino, std::move(directory) });
    }
    std::sort(held.begin(), held.end(), [](Held const& left, Held const& right) {
        return std::pair(left.device, left.inode) < std::pair(right.device, right.inode);
    });

    DirectoryLock lock;
    for (auto& entry : held) {
        while (::flock(entry.directory.get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                return quenmark::unexpected(CommandError::io(errno));
        }
        lock.m_directories.push_back(std::move(entry.directory));
    }
    for (auto const path : paths)
        remove_leftover_temporaries(std::string(path));
    return lock;
}

CommandResult<DirectoryLock> lock_data_files(CommandContext const& context)
{
    return DirectoryLock::acquire({ context.state_path, context.key_path, context.audit_path });
}

CommandResult<void> refuse_data_file_as_output(CommandContext const& context, std::string const& output)
{
    for (std::string const* data_file : { &context.state_path, &context.key_path, &context.audit_path }) {
        if (same_file(output, *data_file))
            return quenmark::unexpected(
                CommandError::message("--output must not be the state, key or audit file: " + output));
    }
    return {};
}

} // namespace corvellactl

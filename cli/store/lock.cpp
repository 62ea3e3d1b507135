#include "store/lock.h"

#include "store/replace.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
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

// Refuses an --output that is not missing or a regular file, or that is
// where standard output or error goes (its content would be replaced, not
// added to).
CommandResult<void> check_output_target(std::string const& path)
{
    auto const refused = [&path](std::string const& why) {
        return quenmark::unexpected(
            CommandError::message("--output cannot replace " + path + ": " + why + "; give - for standard output"));
    };
    struct stat status {};
    // A path that cannot be looked at is left to the write, which reports why.
    if (::lstat(path.c_str(), &status) != 0)
        return {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return refused("not a regular file");
    for (int const stream : { STDOUT_FILENO, STDERR_FILENO }) {
        struct stat open {};
        if (::fstat(stream, &open) == 0 && open.st_dev == status.st_dev && open.st_ino == status.st_ino)
            return refused("the command's own output goes there");
    }
    return {};
}

// The directories this process holds locked, by device and inode.
std::vector<std::pair<dev_t, ino_t>>& locked_here()
{
    static std::vector<std::pair<dev_t, ino_t>> locked;
    return locked;
}

} // namespace

DirectoryLock::~DirectoryLock()
{
    auto& locked = locked_here();
    for (auto const& entry : m_directories)
        std::erase(locked, std::pair(entry.device, entry.inode));
}

CommandResult<DirectoryLock> DirectoryLock::acquire(std::initializer_list<std::string_view> paths)
{
    std::vector<Held> held;
    for (auto const path : paths) {
        if (path.empty())
            continue;
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
        auto const& locked = locked_here();
        if (!seen && std::find(locked.begin(), locked.end(), std::pair(status.st_dev, status.st_ino)) == locked.end())
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
        locked_here().emplace_back(entry.device, entry.inode);
        lock.m_directories.push_back(std::move(entry));
    }
    for (auto const path : paths) {
        if (!path.empty())
            remove_leftover_temporaries(std::string(path));
    }
    return lock;
}

CommandResult<DirectoryLock> lock_data_files(CommandContext const& context, std::optional<std::string> const& output)
{
    return DirectoryLock::acquire({ context.state_path, context.key_path, context.audit_path, output.value_or("") });
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

CommandResult<std::optional<std::string>> output_file(CommandContext const& context,
                                                      std::optional<std::string> const& output)
{
    if (!output || *output == "-")
        return std::optional<std::string>();
    TRY(refuse_data_file_as_output(context, *output));
    TRY(check_output_target(*output));
    return output;
}

CommandResult<void> write_output(std::string const& path, std::string_view content)
{
    // Checked before the lock too, so that no device's directory is locked.
    TRY(check_output_target(path));
    auto const lock = TRY(DirectoryLock::acquire({ path }));
    TRY(check_output_target(path));
    return replace_file(path, content);
}

} // namespace corvellactl

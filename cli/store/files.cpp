#include "store/files.h"

#include "store/fault_injection.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <optional>
#include <random>
#include <span>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::string_view not_utf8_text = "stream did not contain valid UTF-8";

FaultHook fault_hook = nullptr;

// Whether a test's hook fails this call; errno then holds its error.
bool injected_fault(FileOperation operation)
{
    if (fault_hook == nullptr)
        return false;
    int const error = fault_hook(operation);
    if (error == 0)
        return false;
    errno = error;
    return true;
}

// The system calls below go through the test seam; each fails as the real
// call would, with -1 and errno.
int open_file(char const* path, int flags, mode_t mode = 0)
{
    return injected_fault(FileOperation::Open) ? -1 : ::open(path, flags, mode);
}

int make_temporary(std::string& pattern)
{
    return injected_fault(FileOperation::Open) ? -1 : ::mkostemp(pattern.data(), O_CLOEXEC);
}

ssize_t read_some(int descriptor, char* buffer, std::size_t size)
{
    return injected_fault(FileOperation::Read) ? -1 : ::read(descriptor, buffer, size);
}

ssize_t write_some(int descriptor, char const* bytes, std::size_t size)
{
    return injected_fault(FileOperation::Write) ? -1 : ::write(descriptor, bytes, size);
}

int flush_to_disk(int descriptor)
{
    return injected_fault(FileOperation::Flush) ? -1 : ::fsync(descriptor);
}

int rename_file(char const* from, char const* to)
{
    return injected_fault(FileOperation::Rename) ? -1 : ::rename(from, to);
}

int link_file(char const* existing, char const* name)
{
    return injected_fault(FileOperation::Rename) ? -1 : ::link(existing, name);
}

// The path a write should replace: the file a symbolic link names, so the
// link itself survives; the path unchanged otherwise.
std::string resolve_link(std::string const& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

std::string parent_of(std::string const& path)
{
    auto const slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string base_name_of(std::string const& path)
{
    auto const slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool write_all(int descriptor, std::string_view content)
{
    while (!content.empty()) {
        ssize_t const written = write_some(descriptor, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

mode_t default_file_mode()
{
    mode_t const mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// Makes a rename or link in the directory durable; a failure here cannot
// undo the change, so it is not reported.
void sync_directory(std::string const& directory)
{
    Descriptor const opened(open_file(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.is_open())
        flush_to_disk(opened.get());
}

// The name TemporaryFile gives a file beside `target`, minus its six random
// characters.
std::string temporary_prefix(std::string const& target)
{
    return parent_of(target) + "/." + base_name_of(target) + ".";
}

// Whether `name` is one that TemporaryFile::create() gives a file beside a
// target whose base name is `base`: a dot, the base name, a dot and the six
// letters or digits that mkostemp() fills in.
bool is_temporary_name(std::string_view name, std::string_view base)
{
    constexpr std::size_t random_length = 6;
    if (name.size() != base.size() + 2 + random_length || name.front() != '.' || name.substr(1, base.size()) != base
        || name[base.size() + 1] != '.')
        return false;
    for (char const character : name.substr(base.size() + 2)) {
        bool const alphanumeric = (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z')
            || (character >= '0' && character <= '9');
        if (!alphanumeric)
            return false;
    }
    return true;
}

// Removes the temporary files beside `path` that runs killed before they
// could remove them left behind: half-written new contents, links kept for
// undoing a replacement, and copies of a new signing key. The caller holds
// the directory's lock, so no living run uses them. What cannot be removed
// stays; the next run tries again.
void remove_leftover_temporaries(std::string const& path)
{
    std::string const target = resolve_link(path);
    std::string const directory = parent_of(target);
    std::string const base = base_name_of(target);
    DIR* const listing = ::opendir(directory.c_str());
    if (listing == nullptr)
        return;
    std::vector<std::string> leftovers;
    while (dirent const* entry = ::readdir(listing)) {
        if (is_temporary_name(entry->d_name, base))
            leftovers.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    for (auto const& name : leftovers) {
        std::string const leftover = directory + "/" + name;
        struct stat status {};
        // Only files: a directory or a link of that name is not ours.
        if (::lstat(leftover.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            ::unlink(leftover.c_str());
    }
}

// Makes a hard link to `target` beside it and returns its name, of the
// temporary files' form so that a run killed while holding it leaves it to
// be removed by the next. Fails with the errno value of the link.
quenmark::Expected<std::string, int> link_beside(std::string const& target)
{
    constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    for (int tries = 0;; ++tries) {
        std::string name = temporary_prefix(target);
        for (int index = 0; index < 6; ++index)
            name.push_back(letters[pick(random)]);
        if (link_file(target.c_str(), name.c_str()) == 0)
            return name;
        if (errno != EEXIST || tries == 100)
            return quenmark::unexpected(errno);
    }
}

} // namespace

bool path_exists(std::string const& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string directory_of(std::string const& path) { return parent_of(resolve_link(path)); }

CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding)
{
    // Opening without blocking lets a FIFO that no one writes to open at
    // once, so it can be refused like any other file that is not regular.
    Descriptor file(open_file(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.is_open())
        return quenmark::unexpected(CommandError::io(errno));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    if (S_ISDIR(status.st_mode))
        return quenmark::unexpected(CommandError::io(EISDIR));
    if (!S_ISREG(status.st_mode))
        return quenmark::unexpected(CommandError::io(path + " is not a regular file"));

    // Exactly the size the file has now, so no input can make the reader
    // take more memory than the file's own size.
    auto const size = static_cast<std::size_t>(status.st_size);
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[size + padding]);
    if (!bytes)
        return quenmark::unexpected(CommandError::io(ENOMEM));
    std::size_t filled = 0;
    for (;;) {
        // One byte beyond the size shows a file that grew.
        char beyond = 0;
        bool const at_end = filled == size;
        ssize_t const count = at_end ? read_some(file.get(), &beyond, 1)
                                     : read_some(file.get(), bytes.get() + filled, size - filled);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return quenmark::unexpected(CommandError::io(errno));
        }
        if (count == 0 && at_end)
            break;
        if (count == 0 || at_end)
            return quenmark::unexpected(CommandError::io(path + " changed while it was read"));
        filled += static_cast<std::size_t>(count);
    }
    std::memset(bytes.get() + size, 0, padding);
    if (!quenmark::is_valid_utf8({ bytes.get(), size }))
        return quenmark::unexpected(CommandError::io(std::string(not_utf8_text)));

    PaddedText text;
    text.m_bytes = std::move(bytes);
    text.m_size = size;
    return text;
}

CommandResult<std::string> read_text(std::string const& path)
{
    auto padded = TRY(read_padded_text(path, /*padding=*/0));
    std::string text(padded.view());
    // The buffer may hold a secret (the key file); clear it before release.
    padded.wipe();
    return text;
}

void PaddedText::wipe()
{
    if (m_bytes)
        quenmark::zero_secret(std::as_writable_bytes(std::span(m_bytes.get(), m_size)));
}

Descriptor::Descriptor(Descriptor&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (is_open())
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

Descriptor::~Descriptor()
{
    if (is_open())
        ::close(m_descriptor);
}

bool Descriptor::close() { return ::close(std::exchange(m_descriptor, -1)) == 0; }

CommandResult<TemporaryFile> TemporaryFile::create(std::string const& target, Content content)
{
    std::string path = temporary_prefix(target) + "XXXXXX";
    Descriptor file(make_temporary(path));
    if (!file.is_open())
        return quenmark::unexpected(CommandError::io(errno));
    return TemporaryFile(std::move(path), std::move(file), content);
}

TemporaryFile::TemporaryFile(std::string path, Descriptor file, Content content)
    : m_path(std::move(path))
    , m_file(std::move(file))
    , m_content(content)
{
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_path(std::exchange(other.m_path, {}))
    , m_file(std::move(other.m_file))
    , m_content(other.m_content)
{
}

TemporaryFile::~TemporaryFile()
{
    if (m_path.empty())
        return;
    // Emptied first, so a secret is gone even if the name cannot be removed.
    if (m_content == Content::Secret)
        ::truncate(m_path.c_str(), 0);
    ::unlink(m_path.c_str());
}

CommandResult<void> TemporaryFile::write(std::string_view bytes)
{
    if (!write_all(m_file.get(), bytes))
        return quenmark::unexpected(CommandError::io(errno));
    return {};
}

CommandResult<void> TemporaryFile::finish()
{
    if (flush_to_disk(m_file.get()) != 0 || !m_file.close())
        return quenmark::unexpected(CommandError::io(errno));
    return {};
}

CommandResult<void> TemporaryFile::rename_to(std::string const& target)
{
    if (rename_file(m_path.c_str(), target.c_str()) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    // The temporary name is gone with the rename; nothing is left to remove.
    m_path.clear();
    return {};
}

void TemporaryFile::unlink_name()
{
    ::unlink(m_path.c_str());
    m_path.clear();
}

CommandResult<void> replace_file(std::string const& path, std::string_view content)
{
    auto replacement = TRY(FileReplacement::begin(path));
    TRY(replacement.write(content));
    return replacement.commit();
}

CommandResult<FileReplacement> FileReplacement::begin(std::string const& path)
{
    std::string target = resolve_link(path);
    auto temporary = TRY(TemporaryFile::create(target));

    mode_t mode = default_file_mode();
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        mode = static_cast<mode_t>(existing.st_mode & 07777);
        bool const other_owner = existing.st_uid != ::geteuid() || existing.st_gid != ::getegid();
        if (other_owner && ::fchown(temporary.descriptor(), existing.st_uid, existing.st_gid) != 0) {
            // Keeping the owner takes privileges; without them the file
            // becomes the caller's, as a fresh write would make it.
        }
    }
    if (::fchmod(temporary.descriptor(), mode) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    return FileReplacement(std::move(target), std::move(temporary));
}

FileReplacement::FileReplacement(std::string target, TemporaryFile temporary)
    : m_target(std::move(target))
    , m_temporary(std::move(temporary))
{
}

CommandResult<void> FileReplacement::write(std::string_view bytes)
{
    // Large content goes out in pieces, and the disk is asked to start on
    // each stretch written so far: it then works while the rest is produced,
    // and the flush in finish() has little left to wait for. The request is
    // only advice; finish() reports any failure to reach the disk.
    constexpr std::size_t piece_size = std::size_t { 8 } << 20U;
    while (!bytes.empty()) {
        std::string_view const piece = bytes.substr(0, piece_size);
        TRY(m_temporary.write(piece));
        bytes.remove_prefix(piece.size());
        m_written += piece.size();
#ifdef SYNC_FILE_RANGE_WRITE
        if (m_written - m_write_back_started >= piece_size) {
            ::sync_file_range(m_temporary.descriptor(), static_cast<off_t>(m_write_back_started),
                static_cast<off_t>(m_written - m_write_back_started), SYNC_FILE_RANGE_WRITE);
            m_write_back_started = m_written;
        }
#endif
    }
    return {};
}

CommandResult<void> FileReplacement::finish() { return m_temporary.finish(); }

CommandResult<void> FileReplacement::commit()
{
    TRY(finish());
    return install_together(std::span(this, 1));
}

namespace {

// How to give a replaced file its old content back: the hard link to the old
// file, or, when there was no old file, removing the new one again.
struct Undo {
    std::string target;
    bool existed { false };
    std::optional<std::string> old_file;
};

// Undoes the renames already done, last first. Each step is a rename within
// one directory; should one fail all the same, or should the old file have
// had no second name, the file keeps its new, complete content.
void undo_replacements(std::vector<Undo> const& done)
{
    for (auto undo = done.rbegin(); undo != done.rend(); ++undo) {
        if (undo->old_file)
            rename_file(undo->old_file->c_str(), undo->target.c_str());
        else if (!undo->existed)
            ::unlink(undo->target.c_str());
    }
}

void remove_old_files(std::vector<Undo> const& kept)
{
    for (auto const& undo : kept) {
        if (undo.old_file)
            ::unlink(undo.old_file->c_str());
    }
}

} // namespace

CommandResult<void> install_together(std::span<FileReplacement> replacements)
{
    // Each old file but the last one's is kept under a second name until
    // every rename is done: a later rename may fail and call for it. A file
    // system without hard links gets no undo.
    std::vector<Undo> undo;
    undo.reserve(replacements.size());
    for (std::size_t index = 0; index + 1 < replacements.size(); ++index) {
        std::string const& target = replacements[index].m_target;
        Undo entry { target, path_exists(target), std::nullopt };
        if (entry.existed) {
            auto kept = link_beside(target);
            if (kept) {
                entry.old_file = std::move(*kept);
            } else if (int const error = kept.error(); error != EPERM && error != EOPNOTSUPP && error != ENOTSUP) {
                remove_old_files(undo);
                return quenmark::unexpected(CommandError::io(error));
            }
        }
        undo.push_back(std::move(entry));
    }

    // The renames, back to back.
    for (std::size_t index = 0; index < replacements.size(); ++index) {
        auto renamed = replacements[index].m_temporary.rename_to(replacements[index].m_target);
        if (!renamed) {
            std::vector<Undo> const done(undo.begin(), undo.begin() + static_cast<std::ptrdiff_t>(index));
            undo_replacements(done);
            remove_old_files(std::vector<Undo>(undo.begin() + static_cast<std::ptrdiff_t>(index), undo.end()));
            return renamed;
        }
    }
    remove_old_files(undo);

    std::vector<std::string> directories;
    for (auto const& replacement : replacements) {
        std::string directory = parent_of(replacement.m_target);
        if (std::find(directories.begin(), directories.end(), directory) == directories.end())
            directories.push_back(std::move(directory));
    }
    for (auto const& directory : directories)
        sync_directory(directory);
    return {};
}

CommandResult<CreateOutcome> create_file_exclusively(std::string const& path, std::string_view content, mode_t mode)
{
    auto temporary = TRY(TemporaryFile::create(path, Content::Secret));
    if (::fchmod(temporary.descriptor(), mode) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    TRY(temporary.write(content));
    TRY(temporary.finish());
    if (link_file(temporary.path().c_str(), path.c_str()) == 0) {
        // The content lives on under the new name; only the temporary name
        // goes, without emptying the file.
        temporary.unlink_name();
        sync_directory(parent_of(path));
        return CreateOutcome::Created;
    }
    int const link_error = errno;
    if (link_error == EEXIST)
        return CreateOutcome::AlreadyExists;
    if (link_error != EPERM && link_error != EOPNOTSUPP && link_error != ENOTSUP)
        return quenmark::unexpected(CommandError::io(link_error));

    // File systems without hard links: create the file exclusively in place
    // and empty and remove it again if it cannot be written whole.
    Descriptor file(open_file(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.is_open()) {
        if (errno == EEXIST)
            return CreateOutcome::AlreadyExists;
        return quenmark::unexpected(CommandError::io(errno));
    }
    if (!write_all(file.get(), content) || flush_to_disk(file.get()) != 0 || !file.close()) {
        int const write_error = errno;
        ::truncate(path.c_str(), 0);
        ::unlink(path.c_str());
        return quenmark::unexpected(CommandError::io(write_error));
    }
    sync_directory(parent_of(path));
    return CreateOutcome::Created;
}

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

void set_fault_hook(FaultHook hook) { fault_hook = hook; }

CommandResult<DirectoryLock> lock_data_files(CommandContext const& context)
{
    return DirectoryLock::acquire({ context.state_path, context.key_path, context.audit_path });
}

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

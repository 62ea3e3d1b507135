#include "store/files.h"

#include "quenmark/signing.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::string_view not_utf8_text = "stream did not contain valid UTF-8";

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
        ssize_t const written = ::write(descriptor, content.data(), content.size());
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
    Descriptor const opened(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.is_open())
        ::fsync(opened.get());
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
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return quenmark::unexpected(CommandError::io(errno));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return quenmark::unexpected(CommandError::io(errno));

    // The size is a hint: a file that grows meanwhile is still read whole.
    std::size_t capacity = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
    capacity = std::max<std::size_t>(capacity + 1, 64);
    auto bytes = std::make_unique_for_overwrite<char[]>(capacity + padding);
    std::size_t size = 0;
    for (;;) {
        if (size == capacity) {
            std::size_t const larger = capacity * 2;
            auto grown = std::make_unique_for_overwrite<char[]>(larger + padding);
            std::memcpy(grown.get(), bytes.get(), size);
            bytes = std::move(grown);
            capacity = larger;
        }
        ssize_t const count = ::read(file.get(), bytes.get() + size, capacity - size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return quenmark::unexpected(CommandError::io(errno));
        }
        if (count == 0)
            break;
        size += static_cast<std::size_t>(count);
    }
    std::memset(bytes.get() + size, 0, capacity - size + padding);
    if (!simdjson::validate_utf8(bytes.get(), size))
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

CommandResult<TemporaryFile> TemporaryFile::create(std::string const& target)
{
    std::string path = parent_of(target) + "/." + base_name_of(target) + ".XXXXXX";
    Descriptor file(::mkostemp(path.data(), O_CLOEXEC));
    if (!file.is_open())
        return quenmark::unexpected(CommandError::io(errno));
    return TemporaryFile(std::move(path), std::move(file));
}

TemporaryFile::TemporaryFile(std::string path, Descriptor file)
    : m_path(std::move(path))
    , m_file(std::move(file))
{
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_path(std::exchange(other.m_path, {}))
    , m_file(std::move(other.m_file))
{
}

TemporaryFile::~TemporaryFile()
{
    if (!m_path.empty())
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
    if (::fsync(m_file.get()) != 0 || !m_file.close())
        return quenmark::unexpected(CommandError::io(errno));
    return {};
}

CommandResult<void> TemporaryFile::rename_to(std::string const& target)
{
    if (::rename(m_path.c_str(), target.c_str()) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    // The temporary name is gone with the rename; nothing is left to remove.
    m_path.clear();
    return {};
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
    // and the flush in commit() has little left to wait for. The request is
    // only advice; commit() reports any failure to reach the disk.
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

CommandResult<void> FileReplacement::commit()
{
    TRY(m_temporary.finish());
    TRY(m_temporary.rename_to(m_target));
    sync_directory(parent_of(m_target));
    return {};
}

CommandResult<CreateOutcome> create_file_exclusively(std::string const& path, std::string_view content, mode_t mode)
{
    auto temporary = TRY(TemporaryFile::create(path));
    if (::fchmod(temporary.descriptor(), mode) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    TRY(temporary.write(content));
    TRY(temporary.finish());
    if (::link(temporary.path().c_str(), path.c_str()) == 0) {
        sync_directory(parent_of(path));
        return CreateOutcome::Created;
    }
    int const link_error = errno;
    if (link_error == EEXIST)
        return CreateOutcome::AlreadyExists;
    if (link_error != EPERM && link_error != EOPNOTSUPP && link_error != ENOTSUP)
        return quenmark::unexpected(CommandError::io(link_error));

    // File systems without hard links: create the file exclusively in place
    // and remove it again if it cannot be written whole.
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file.is_open()) {
        if (errno == EEXIST)
            return CreateOutcome::AlreadyExists;
        return quenmark::unexpected(CommandError::io(errno));
    }
    if (!write_all(file.get(), content) || ::fsync(file.get()) != 0 || !file.close()) {
        int const write_error = errno;
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
        Descriptor directory(::open(directory_of(std::string(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    return lock;
}

CommandResult<DirectoryLock> lock_data_files(CommandContext const& context)
{
    return DirectoryLock::acquire({ context.state_path, context.key_path, context.audit_path });
}

} // namespace corvellactl

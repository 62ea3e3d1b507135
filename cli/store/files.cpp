#include "store/files.h"

#include "quenmark/text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : m_descriptor(descriptor) { }
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    int get() const { return m_descriptor; }
    // Closes now and reports the result, which carries delayed write errors.
    bool close()
    {
        int const descriptor = std::exchange(m_descriptor, -1);
        return ::close(descriptor) == 0;
    }

private:
    int m_descriptor;
};

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
    int const descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

// A temporary file beside the target, removed again unless released.
class TemporaryFile {
public:
    static CommandResult<TemporaryFile> create(std::string const& target)
    {
        std::string path = parent_of(target) + "/." + base_name_of(target) + ".XXXXXX";
        int const descriptor = ::mkostemp(path.data(), O_CLOEXEC);
        if (descriptor < 0)
            return quenmark::unexpected(CommandError::io(errno));
        return TemporaryFile(std::move(path), descriptor);
    }
    TemporaryFile(TemporaryFile&& other) noexcept
        : m_path(std::move(other.m_path))
        , m_descriptor(std::exchange(other.m_descriptor, -1))
        , m_remove(std::exchange(other.m_remove, false))
    {
    }
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        if (m_remove)
            ::unlink(m_path.c_str());
    }

    std::string const& path() const { return m_path; }

    // Writes the content with the given permissions and flushes it to disk.
    CommandResult<void> fill(std::string_view content, mode_t mode)
    {
        if (::fchmod(m_descriptor, mode) != 0 || !write_all(m_descriptor, content) || ::fsync(m_descriptor) != 0)
            return quenmark::unexpected(CommandError::io(errno));
        int const descriptor = std::exchange(m_descriptor, -1);
        if (::close(descriptor) != 0)
            return quenmark::unexpected(CommandError::io(errno));
        return {};
    }
    int descriptor() const { return m_descriptor; }
    // Hands the open file and its name to a new owner, which closes and
    // removes it from then on.
    std::pair<std::string, int> release()
    {
        m_remove = false;
        return { std::move(m_path), std::exchange(m_descriptor, -1) };
    }

private:
    TemporaryFile(std::string path, int descriptor)
        : m_path(std::move(path))
        , m_descriptor(descriptor)
    {
    }
    std::string m_path;
    int m_descriptor { -1 };
    bool m_remove { true };
};

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
        std::memset(m_bytes.get(), 0, m_size);
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
    auto [name, descriptor] = temporary.release();
    return FileReplacement(std::move(target), std::move(name), descriptor);
}

FileReplacement::FileReplacement(std::string target, std::string temporary, int descriptor)
    : m_target(std::move(target))
    , m_temporary(std::move(temporary))
    , m_descriptor(descriptor)
{
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : m_target(std::move(other.m_target))
    , m_temporary(std::exchange(other.m_temporary, {}))
    , m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_written(other.m_written)
    , m_write_back_started(other.m_write_back_started)
{
}

FileReplacement::~FileReplacement()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
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
        if (!write_all(m_descriptor, piece))
            return quenmark::unexpected(CommandError::io(errno));
        bytes.remove_prefix(piece.size());
        m_written += piece.size();
#ifdef SYNC_FILE_RANGE_WRITE
        if (m_written - m_write_back_started >= piece_size) {
            ::sync_file_range(m_descriptor, static_cast<off_t>(m_write_back_started),
                static_cast<off_t>(m_written - m_write_back_started), SYNC_FILE_RANGE_WRITE);
            m_write_back_started = m_written;
        }
#endif
    }
    return {};
}

CommandResult<void> FileReplacement::commit()
{
    if (::fsync(m_descriptor) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    int const descriptor = std::exchange(m_descriptor, -1);
    if (::close(descriptor) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    // The temporary name is gone with the rename; nothing is left to remove.
    m_temporary.clear();
    sync_directory(parent_of(m_target));
    return {};
}

CommandResult<CreateOutcome> create_file_exclusively(std::string const& path, std::string_view content, mode_t mode)
{
    auto temporary = TRY(TemporaryFile::create(path));
    TRY(temporary.fill(content, mode));
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
    int const descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor < 0) {
        if (errno == EEXIST)
            return CreateOutcome::AlreadyExists;
        return quenmark::unexpected(CommandError::io(errno));
    }
    Descriptor file(descriptor);
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
        int descriptor;
    };
    std::vector<Held> held;
    auto const close_all = [&held] {
        for (auto const& entry : held)
            ::close(entry.descriptor);
    };
    for (auto const path : paths) {
        std::string const directory = directory_of(std::string(path));
        int const descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // Without the directory no file can exist there and every write will
        // fail on its own, so there is nothing to guard.
        if (descriptor < 0 && (errno == ENOENT || errno == ENOTDIR))
            continue;
        struct stat status {};
        if (descriptor < 0 || ::fstat(descriptor, &status) != 0) {
            int const error = errno;
            if (descriptor >= 0)
                ::close(descriptor);
            close_all();
            return quenmark::unexpected(CommandError::io(error));
        }
        bool const seen = std::any_of(held.begin(), held.end(), [&status](Held const& entry) {
            return entry.device == status.st_dev && entry.inode == status.st_ino;
        });
        if (seen)
            ::close(descriptor);
        else
            held.push_back({ status.st_dev, status.st_ino, descriptor });
    }
    std::sort(held.begin(), held.end(), [](Held const& left, Held const& right) {
        return std::pair(left.device, left.inode) < std::pair(right.device, right.inode);
    });

    DirectoryLock lock;
    for (auto const& entry : held) {
        lock.m_descriptors.push_back(entry.descriptor);
        while (::flock(entry.descriptor, LOCK_EX) != 0) {
            if (errno != EINTR) {
                int const error = errno;
                for (auto const& remaining : held) {
                    if (std::find(lock.m_descriptors.begin(), lock.m_descriptors.end(), remaining.descriptor)
                        == lock.m_descriptors.end())
                        ::close(remaining.descriptor);
                }
                return quenmark::unexpected(CommandError::io(error));
            }
        }
    }
    return lock;
}

DirectoryLock::DirectoryLock(DirectoryLock&& other) noexcept
    : m_descriptors(std::exchange(other.m_descriptors, {}))
{
}

DirectoryLock& DirectoryLock::operator=(DirectoryLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_descriptors = std::exchange(other.m_descriptors, {});
    }
    return *this;
}

DirectoryLock::~DirectoryLock() { release(); }

void DirectoryLock::release()
{
    // Closing the descriptor releases its lock.
    for (int const descriptor : m_descriptors)
        ::close(descriptor);
    m_descriptors.clear();
}

} // namespace corvellactl

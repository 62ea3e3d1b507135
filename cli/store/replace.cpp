#include "store/replace.h"

#include "store/read.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

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

// Makes a hard link to `existing` beside `target` and returns its name, of
// the temporary files' form so that a run killed while holding it leaves it
// to be removed by the next. Fails with the errno value of the link.
quenmark::Expected<std::string, int> link_beside(std::string const& existing, std::string const& target)
{
    constexpr std::string_view letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    for (int tries = 0;; ++tries) {
        std::string name = temporary_prefix(target);
        for (int index = 0; index < 6; ++index)
            name.push_back(letters[pick(random)]);
        if (link_file(existing.c_str(), name.c_str()) == 0)
            return name;
        if (errno != EEXIST || tries == 100)
            return quenmark::unexpected(errno);
    }
}

} // namespace

std::string directory_of(std::string const& path) { return parent_of(resolve_link(path)); }

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

CommandResult<TemporaryFile> TemporaryFile::create(std::string const& target, Content content)
{
    // A file without a name can be named later only through /proc.
    if (::access("/proc/self/fd", X_OK) == 0) {
        Descriptor unnamed(open_file(parent_of(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (unnamed.is_open())
            return TemporaryFile(target, {}, std::move(unnamed), content);
        // Other errors are the directory's, and creating a named file would
        // meet them too.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return quenmark::unexpected(CommandError::io(errno));
    }
    std::string path = temporary_prefix(target) + "XXXXXX";
    Descriptor file(make_temporary(path));
    if (!file.is_open())
        return quenmark::unexpected(CommandError::io(errno));
    return TemporaryFile(target, std::move(path), std::move(file), content);
}

TemporaryFile::TemporaryFile(std::string target, std::string path, Descriptor file, Content content)
    : m_target(std::move(target))
    , m_path(std::move(path))
    , m_file(std::move(file))
    , m_content(content)
{
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : m_target(std::move(other.m_target))
    , m_path(std::exchange(other.m_path, {}))
    , m_file(std::move(other.m_file))
    , m_content(other.m_content)
{
}

TemporaryFile::~TemporaryFile()
{
    // A file without a name goes with its descriptor.
    if (m_path.empty())
        return;
    // Emptied first, so a secret is gone even if the name cannot be removed.
    if (m_content == Content::Secret)
        ::truncate(m_path.c_str(), 0);
    ::unlink(m_path.c_str());
}

std::string TemporaryFile::open_file_path() const { return "/proc/self/fd/" + std::to_string(m_file.get()); }

CommandResult<void> TemporaryFile::write(std::string_view bytes)
{
    if (!write_all(m_file.get(), bytes))
        return quenmark::unexpected(CommandError::io(errno));
    return {};
}

CommandResult<void> TemporaryFile::finish()
{
    if (flush_to_disk(m_file.get()) != 0 || (!m_path.empty() && !m_file.close()))
        return quenmark::unexpected(CommandError::io(errno));
    return {};
}

CommandResult<void> TemporaryFile::name()
{
    if (!m_path.empty())
        return {};
    auto named = link_beside(open_file_path(), m_target);
    if (!named)
        return quenmark::unexpected(CommandError::io(named.error()));
    m_path = std::move(*named);
    return {};
}

CommandResult<void> TemporaryFile::rename_to(std::string const& target)
{
    TRY(name());
    if (rename_file(m_path.c_str(), target.c_str()) != 0)
        return quenmark::unexpected(CommandError::io(errno));
    // The temporary name is gone with the rename; nothing is left to remove.
    m_path.clear();
    m_file = Descriptor();
    return {};
}

int TemporaryFile::link_as(std::string const& path)
{
    std::string const existing = m_path.empty() ? open_file_path() : m_path;
    return link_file(existing.c_str(), path.c_str()) == 0 ? 0 : errno;
}

CommandResult<void> TemporaryFile::remove_name()
{
    // Forgotten even if it stays, so that it is never emptied: the content
    // lives on under another name.
    std::string const path = std::exchange(m_path, {});
    if (path.empty() || remove_file(path.c_str()) == 0)
        return {};
    return quenmark::unexpected(CommandError::io(path + " (a second name of " + m_target
                                                 + ") could not be removed: " + std::strerror(errno)));
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
    // Large content goes out in pieces of 256 KiB. For a bigger write the
    // kernel takes bigger blocks of memory for the file's cache (up to 2 MiB
    // for a write of that size at an offset aligned to it), and on a virtual
    // machine whose host takes back free memory those are the blocks it has
    // taken, each faulted in again: there, after another program had freed
    // 3 GB, copying both files of the scale benchmark's 100k set took 1.2 to
    // 1.6 s in aligned pieces of 1 MiB and 0.47 to 0.50 s in pieces of
    // 256 KiB (BENCHMARKS.md). The disk is asked to start on each stretch
    // written so far: it then works while the rest is produced, and the
    // flush in finish() has little left to wait for. The request is only
    // advice; finish() reports any failure to reach the disk.
    constexpr std::size_t piece_size = std::size_t { 256 } << 10U;
    constexpr std::size_t write_back_stretch = std::size_t { 8 } << 20U;
    while (!bytes.empty()) {
        std::string_view const piece = bytes.substr(0, piece_size);
        TRY(m_temporary.write(piece));
        bytes.remove_prefix(piece.size());
        m_written += piece.size();
#ifdef SYNC_FILE_RANGE_WRITE
        if (m_written - m_write_back_started >= write_back_stretch) {
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
    for (auto& replacement : replacements)
        TRY(replacement.m_temporary.name());
    // Each old file but the last one's is kept under a second name until
    // every rename is done: a later rename may fail and call for it. A file
    // system without hard links gets no undo.
    std::vector<Undo> undo;
    undo.reserve(replacements.size());
    for (std::size_t index = 0; index + 1 < replacements.size(); ++index) {
        std::string const& target = replacements[index].m_target;
        Undo entry { target, path_exists(target), std::nullopt };
        if (entry.existed) {
            auto kept = link_beside(target, target);
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
    int const link_error = temporary.link_as(path);
    if (link_error == 0) {
        // The content lives on under the new name; only a temporary name
        // goes, without emptying the file, and one that stays is reported.
        auto removed = temporary.remove_name();
        sync_directory(parent_of(path));
        TRY(std::move(removed));
        return CreateOutcome::Created;
    }
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

void release_cached_pages(std::string const& path)
{
    // Not through the file layer's seam: a hint has no failure to report.
    Descriptor const file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.is_open())
        (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
}

} // namespace corvellactl

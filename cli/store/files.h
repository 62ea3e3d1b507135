#pragma once

// The file operations the data files share: whole-file reads, atomic
// replacement, exclusive creation and the directory lock that serialises
// writers.

#include "context.h"

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace corvellactl {

// Whether the path's metadata can be read: how the data files tell a file
// that exists from one that does not.
bool path_exists(std::string const& path);

// A whole file's bytes followed by zeroed padding, so a JSON reader may read
// past the end without a copy.
class PaddedText {
public:
    char const* data() const { return m_bytes.get(); }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return { m_bytes.get(), m_size }; }
    // Overwrites the bytes with zeros.
    void wipe();

private:
    friend CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding);
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size { 0 };
};

// Reads a whole file that must hold UTF-8 text. Only a regular file is
// read: a directory is Io "Is a directory", and a FIFO, a device or a socket
// is Io "<path> is not a regular file", refused before a byte is read (the
// open cannot block, so a FIFO without a writer cannot hang the command).
// The file is read by the size it has when opened, so memory stays in
// proportion to it; a file that grows or shrinks meanwhile is Io "<path>
// changed while it was read". Failing to open or read it and bytes that are
// not UTF-8 are Io errors.
[[nodiscard]] CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding);
[[nodiscard]] CommandResult<std::string> read_text(std::string const& path);

// Owns an open file descriptor and closes it when it goes out of scope.
class Descriptor {
public:
    // Takes the result of an open() call; a negative value holds nothing.
    explicit Descriptor(int descriptor = -1) : m_descriptor(descriptor) { }
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;
    ~Descriptor();

    bool is_open() const { return m_descriptor >= 0; }
    int get() const { return m_descriptor; }
    // Closes now and reports the result, which carries delayed write errors;
    // errno tells why on failure.
    [[nodiscard]] bool close();

private:
    int m_descriptor;
};

// What a temporary file holds: a secret is truncated before the file is
// removed, so a failure never leaves its bytes under a name.
enum class Content : unsigned char { Plain, Secret };

// A new file beside a target, open for writing and removed again when it
// goes out of scope, unless it was renamed into place first.
class TemporaryFile {
public:
    // Creates ".<name>.XXXXXX" in the target's directory: the name by which
    // a later run that holds the directory's lock recognises it as left over
    // by a run that was killed.
    [[nodiscard]] static CommandResult<TemporaryFile> create(std::string const& target, Content content = Content::Plain);

    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    TemporaryFile(TemporaryFile const&) = delete;
    TemporaryFile& operator=(TemporaryFile const&) = delete;
    ~TemporaryFile();

    std::string const& path() const { return m_path; }
    int descriptor() const { return m_file.get(); }
    [[nodiscard]] CommandResult<void> write(std::string_view bytes);
    // Flushes the content to disk and closes the file.
    [[nodiscard]] CommandResult<void> finish();
    // Renames the finished file over the target; nothing is left to remove.
    [[nodiscard]] CommandResult<void> rename_to(std::string const& target);
    // Removes the name only, keeping the content: for a file that was linked
    // into place under another name.
    void unlink_name();

private:
    TemporaryFile(std::string path, Descriptor file, Content content);
    std::string m_path;
    Descriptor m_file;
    Content m_content;
};

// Replaces the file's whole content so that readers and crashes see either
// the old or the new content, never a mix: the bytes go to a temporary file
// in the same directory, reach the disk, and are renamed over the target. An
// existing file keeps its permissions; a new one gets the default ones. A
// symbolic link is followed, so the file it names is replaced.
[[nodiscard]] CommandResult<void> replace_file(std::string const& path, std::string_view content);

// The same replacement with the content handed over in pieces, so a large
// file never has to be held whole in memory: begin() creates the temporary
// file, write() adds bytes to it, finish() flushes it to disk, and the file
// is put in place by commit() or, together with others, by
// install_together(). Dropped before it is in place, it removes the
// temporary file and the target keeps its old content.
class FileReplacement {
public:
    [[nodiscard]] static CommandResult<FileReplacement> begin(std::string const& path);
    [[nodiscard]] CommandResult<void> write(std::string_view bytes);
    // Flushes the content to disk and closes the temporary file: all that is
    // left is the rename, which cannot run out of space.
    [[nodiscard]] CommandResult<void> finish();
    // finish(), then the rename over the target.
    [[nodiscard]] CommandResult<void> commit();

    // The file that is replaced (a symbolic link's target).
    std::string const& target() const { return m_target; }

private:
    friend CommandResult<void> install_together(std::span<FileReplacement> replacements);
    FileReplacement(std::string target, TemporaryFile temporary);
    std::string m_target;
    TemporaryFile m_temporary;
    std::size_t m_written { 0 };
    // Bytes handed to the disk ahead of finish(), so its flush waits less.
    std::size_t m_write_back_started { 0 };
};

// Puts finished replacements in place, in the given order and back to back:
// nothing but the renames runs between the first and the last. When a rename
// fails, the files already replaced get their old content back (a hard link
// to each old file is kept until the last rename is done), so a failure
// leaves every file as it was; only a crash between two renames can leave
// the earlier files new and the later ones old. The directories are flushed
// to disk afterwards.
[[nodiscard]] CommandResult<void> install_together(std::span<FileReplacement> replacements);

enum class CreateOutcome : unsigned char { Created, AlreadyExists };

// Creates the file with the given permissions holding `content`, never
// replacing one that exists: the content is written to a temporary file and
// linked into place, so no reader sees a half-written file. AlreadyExists
// when another file took the path first; nothing is written then.
[[nodiscard]] CommandResult<CreateOutcome> create_file_exclusively(std::string const& path, std::string_view content,
                                                                   mode_t mode);

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

// The directory that holds `path` ("." for a bare file name), after
// following a symbolic link at `path` itself.
std::string directory_of(std::string const& path);

} // namespace corvellactl

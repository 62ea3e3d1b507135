#pragma once

// Replacing files: new content goes to a temporary file beside its target
// and is renamed into place, one file alone or several back to back with
// undo, and a file that must not replace another is linked into place.

#include "context.h"
#include "store/system_calls.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvellactl {

// What a temporary file holds: a secret is truncated before the file is
// removed, so a failure never leaves its bytes under a name.
enum class Content : unsigned char { Plain, Secret };

// A new file beside a target, open for writing and removed again when it
// goes out of scope, unless it was put in place first. Where the system
// allows, it has no name until just before it is put in place, so that a
// run killed before then leaves nothing behind.
class TemporaryFile {
public:
    // Creates the file in the target's directory. A name it is given is
    // ".<name>.XXXXXX": the name by which a later run that holds the
    // directory's lock recognises it as left over by a run that was killed.
    [[nodiscard]] static CommandResult<TemporaryFile> create(std::string const& target, Content content = Content::Plain);

    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    TemporaryFile(TemporaryFile const&) = delete;
    TemporaryFile& operator=(TemporaryFile const&) = delete;
    ~TemporaryFile();

    int descriptor() const { return m_file.get(); }
    [[nodiscard]] CommandResult<void> write(std::string_view bytes);
    // Flushes the content to disk (and closes a file that has a name).
    [[nodiscard]] CommandResult<void> finish();
    // Gives a file without a name its temporary name, for a rename.
    [[nodiscard]] CommandResult<void> name();
    // Renames the finished file over the target; nothing is left to remove.
    [[nodiscard]] CommandResult<void> rename_to(std::string const& target);
    // Links the finished content under `path` as well, never replacing a
    // file there; the errno value of the link on failure.
    [[nodiscard]] int link_as(std::string const& path);
    // Removes the temporary name only, keeping the content: for a file that
    // was linked into place under another name. Io error naming it when it
    // cannot be removed.
    [[nodiscard]] CommandResult<void> remove_name();

private:
    TemporaryFile(std::string target, std::string path, Descriptor file, Content content);
    // The file's own path through /proc, by which a file without a name is linked.
    std::string open_file_path() const;
    std::string m_target;
    // Empty while the file has no name, and once nothing is left to remove.
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

// Lets the system drop what it holds in memory of a file that is about to be
// replaced. Replacing a file lets go of its pages anyway, in the rename or
// unlink that drops its last name, on the thread that installs the files;
// a command that has nothing else to do while another thread writes can do
// it beforehand. Only a hint: nothing is said whatever becomes of it, and
// pages still mapped or not yet on disk are kept.
void release_cached_pages(std::string const& path);

enum class CreateOutcome : unsigned char { Created, AlreadyExists };

// Creates the file with the given permissions holding `content`, never
// replacing one that exists: the content is written to a temporary file and
// linked into place, so no reader sees a half-written file. AlreadyExists
// when another file took the path first; nothing is written then.
[[nodiscard]] CommandResult<CreateOutcome> create_file_exclusively(std::string const& path, std::string_view content,
                                                                   mode_t mode);

// The directory that holds `path` ("." for a bare file name), after
// following a symbolic link at `path` itself: where its replacements go.
std::string directory_of(std::string const& path);

// Removes the temporary files that runs killed before they could remove them
// left beside `path` (named as TemporaryFile names them): half-written new
// contents, links kept for undoing a replacement, and copies of a new signing
// key. Only for a caller that holds the lock on the directory, which proves
// that no living run uses them. What cannot be removed stays.
void remove_leftover_temporaries(std::string const& path);

} // namespace corvellactl

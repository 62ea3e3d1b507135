#pragma once

// Reading the data files whole, and telling whoever shows progress how the
// work on a big one advances.

#include "context.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvellactl {

// Whether the path's metadata can be read: how the data files tell a file
// that exists from one that does not.
bool path_exists(std::string const& path);

// Told how the work on a data file advances, so that the command layer can
// show it; the store knows nothing of how it is shown. started() comes once
// the file is open, with its size in bytes, before a byte is read; then
// advanced() every so often, with the records done and the bytes of input
// behind them; and finished() once the work has ended, well or not.
class Progress {
public:
    virtual void started(std::size_t bytes) = 0;
    virtual void advanced(std::size_t done, std::size_t bytes) = 0;
    virtual void finished() = 0;

protected:
    ~Progress() = default;
};

// The most a file that is small by nature may hold (a key, a credential, a
// checkpoint), and what such a file is, for the refusal of a larger one.
struct SizeCap {
    std::size_t bytes { static_cast<std::size_t>(-1) };
    std::string_view holds {}; // "a credential"
};

// Whether read_json_text() maps a file or copies it: by its size (a big file
// is mapped, a small one copied, where a mapping costs more than it saves),
// or always the one way (the tests compare the two).
enum class Mapping { BySize, Always, Never };

// A whole file's bytes followed by zeroed padding, so a JSON reader may read
// past the end without a copy. The bytes are the file's own pages, mapped
// read-only, when read_json_text() maps it; otherwise a copy.
class PaddedText {
public:
    PaddedText() = default;
    PaddedText(PaddedText&& other) noexcept;
    PaddedText& operator=(PaddedText&& other) noexcept;
    PaddedText(PaddedText const&) = delete;
    PaddedText& operator=(PaddedText const&) = delete;
    ~PaddedText();

    char const* data() const { return m_mapped != nullptr ? m_mapped : m_bytes.get(); }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return { data(), m_size }; }
    bool mapped() const { return m_mapped != nullptr; }
    // Overwrites the bytes with zeros; a copy only.
    void wipe();

private:
    friend CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding,
                                                      Progress* progress, SizeCap cap);
    friend CommandResult<PaddedText> read_json_text(std::string const& path, Progress* progress,
                                                    Mapping mapping);
    void release();

    std::unique_ptr<char[]> m_bytes;
    char* m_mapped { nullptr };
    std::size_t m_mapped_length { 0 };
    std::size_t m_size { 0 };
};

// Reads a whole file that must hold UTF-8 text. Only a regular file is
// read: a directory is Io "Is a directory", and a FIFO, a device or a socket
// is Io "<path> is not a regular file", refused before a byte is read (the
// open cannot block, so a FIFO without a writer cannot hang the command).
// A file larger than the cap is refused before a byte is read, with Message
// "<path> is too large to be <holds>: <size> bytes, at most <cap>".
// The file is read by the size it has when opened, so memory stays in
// proportion to it; a file that grows or shrinks meanwhile is Io "<path>
// changed while it was read". Failing to open or read it and bytes that are
// not UTF-8 are Io errors. A progress is told started() before the bytes are
// read, and finished() when reading them fails; the rest is the caller's.
[[nodiscard]] CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding,
                                                         Progress* progress = nullptr, SizeCap cap = {});
[[nodiscard]] CommandResult<std::string> read_text(std::string const& path, SizeCap cap = {});

// Reads a data file for simdjson, which checks UTF-8 itself: as
// read_padded_text() with simdjson's padding, without its own check of the
// bytes, and mapped rather than copied by `mapping`. Whoever parses the text
// gives a refusal to refused_json_text(), which says what read_padded_text()
// would have said of bytes that are not UTF-8. A mapped file that another
// program truncates while it is read ends the run with Io "<path> changed
// while it was read" and status 1: the lock keeps every corvellactl from
// writing it, and its writers replace it by renaming.
[[nodiscard]] CommandResult<PaddedText> read_json_text(std::string const& path, Progress* progress = nullptr,
                                                       Mapping mapping = Mapping::BySize);
[[nodiscard]] CommandError refused_json_text(PaddedText const& text, std::string refusal);

} // namespace corvellactl

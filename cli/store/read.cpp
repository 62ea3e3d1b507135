#include "store/read.h"

#include "store/system_calls.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <span>
#include <sys/stat.h>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::string_view not_utf8_text = "stream did not contain valid UTF-8";

// Reads exactly `size` bytes of UTF-8 text into `bytes`; a file that ends
// early or still has bytes beyond is one that changed while it was read.
CommandResult<void> read_exactly(int descriptor, std::string const& path, char* bytes, std::size_t size)
{
    std::size_t filled = 0;
    for (;;) {
        // One byte beyond the size shows a file that grew.
        char beyond = 0;
        bool const at_end = filled == size;
        ssize_t const count = at_end ? read_some(descriptor, &beyond, 1)
                                     : read_some(descriptor, bytes + filled, size - filled);
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
    if (!quenmark::is_valid_utf8({ bytes, size }))
        return quenmark::unexpected(CommandError::io(std::string(not_utf8_text)));
    return {};
}

} // namespace

bool path_exists(std::string const& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding, Progress* progress,
                                           SizeCap cap)
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
    if (size > cap.bytes) {
        std::string text = path + " is too large to be " + std::string(cap.holds) + ": ";
        quenmark::append_decimal(text, std::uint64_t { size });
        text += " bytes, at most ";
        quenmark::append_decimal(text, std::uint64_t { cap.bytes });
        return quenmark::unexpected(CommandError::message(std::move(text)));
    }
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[size + padding]);
    if (!bytes)
        return quenmark::unexpected(CommandError::io(ENOMEM));
    if (progress != nullptr)
        progress->started(size);
    auto read = read_exactly(file.get(), path, bytes.get(), size);
    if (!read && progress != nullptr)
        progress->finished();
    TRY(std::move(read));
    std::memset(bytes.get() + size, 0, padding);

    PaddedText text;
    text.m_bytes = std::move(bytes);
    text.m_size = size;
    return text;
}

CommandResult<std::string> read_text(std::string const& path, SizeCap cap)
{
    auto padded = TRY(read_padded_text(path, /*padding=*/0, /*progress=*/nullptr, cap));
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

} // namespace corvellactl

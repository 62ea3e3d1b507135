#include "store/read.h"

#include "output.h"
#include "store/system_calls.h"

#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/text/text.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <span>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
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

// Opens a file for reading whole and returns its size: only a regular file,
// no larger than the cap (errors as read_padded_text()).
CommandResult<std::size_t> open_whole_file(std::string const& path, SizeCap cap, Descriptor& file)
{
    // Opening without blocking lets a FIFO that no one writes to open at
    // once, so it can be refused like any other file that is not regular.
    file = Descriptor(open_file(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    return size;
}

// A mapped file that shrinks under the reader raises SIGBUS at the first
// page past its new end. The handler finds the mapping the address is in
// and ends the run with that file's error line, prepared beforehand since
// a handler may only write; any other SIGBUS gets the default action.
struct MappedFile {
    std::atomic<char const*> begin { nullptr };
    std::atomic<std::size_t> length { 0 };
    std::string line; // "Error: io error: <path> changed while it was read\n"
};

constexpr std::size_t most_mapped_files = 4;
std::array<MappedFile, most_mapped_files> mapped_files;
std::mutex mapped_files_mutex;

void on_bus_error(int signal, siginfo_t* info, void* /*context*/)
{
    auto const* address = static_cast<char const*>(info->si_addr);
    for (auto const& file : mapped_files) {
        char const* begin = file.begin.load();
        if (begin != nullptr && address >= begin && address < begin + file.length.load()) {
            static_cast<void>(!::write(STDERR_FILENO, file.line.data(), file.line.size()));
            ::_exit(1);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Claims a slot for a mapping about to be made; none when all are taken
// (the file is then copied).
MappedFile* claim_mapped_file(std::string const& path)
{
    static std::once_flag handler_installed;
    std::call_once(handler_installed, [] {
        struct sigaction action {};
        action.sa_sigaction = on_bus_error;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
    std::string line = "Error: " + CommandError::io(path + " changed while it was read").text() + "\n";
    if (::isatty(STDERR_FILENO) == 1)
        line = shown_on_terminal(line);
    std::lock_guard const guard(mapped_files_mutex);
    for (auto& file : mapped_files) {
        if (file.begin.load() == nullptr && file.line.empty()) {
            file.line = std::move(line);
            return &file;
        }
    }
    return nullptr;
}

void release_mapped_file(char const* begin)
{
    std::lock_guard const guard(mapped_files_mutex);
    for (auto& file : mapped_files) {
        if (file.begin.load() == begin) {
            file.begin.store(nullptr);
            file.length.store(0);
            file.line.clear();
        }
    }
}

// Below this size a copy costs less than setting up a mapping.
constexpr std::size_t smallest_mapped_file = std::size_t { 1 } << 20U;

} // namespace

bool path_exists(std::string const& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

CommandResult<PaddedText> read_padded_text(std::string const& path, std::size_t padding, Progress* progress,
                                           SizeCap cap)
{
    Descriptor file;
    auto const size = TRY(open_whole_file(path, cap, file));
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

CommandResult<PaddedText> read_json_text(std::string const& path, Progress* progress, Mapping mapping)
{
    Descriptor file;
    auto const size = TRY(open_whole_file(path, {}, file));
    std::size_t const padding = quenmark::json::read_padding;
    MappedFile* slot = nullptr;
    if (mapping == Mapping::Always || (mapping == Mapping::BySize && size >= smallest_mapped_file))
        slot = claim_mapped_file(path);
    auto const page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::size_t const length = (size + padding + page - 1) / page * page;
    // Zero pages for the whole length first; the file's pages then replace
    // its start. The rest of the file's last page reads as zeros, and so
    // does what follows it: the padding.
    void* region = slot == nullptr ? MAP_FAILED
                                   : ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                                            -1, 0);
    if (region != MAP_FAILED && size > 0
        && ::mmap(region, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, file.get(), 0) == MAP_FAILED) {
        ::munmap(region, length);
        region = MAP_FAILED;
    }
    if (region == MAP_FAILED) {
        // Not mapped (small, or a file system that cannot map): copied.
        if (slot != nullptr) {
            std::lock_guard const guard(mapped_files_mutex);
            slot->line.clear();
        }
        file = Descriptor();
        return read_padded_text(path, padding, progress, {});
    }
    PaddedText text;
    text.m_mapped = static_cast<char*>(region);
    text.m_mapped_length = length;
    text.m_size = size;
    slot->length.store(length);
    slot->begin.store(text.m_mapped);
    if (progress != nullptr)
        progress->started(size);
    // A file that grew or shrank since it was opened has changed.
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || static_cast<std::size_t>(status.st_size) != size) {
        if (progress != nullptr)
            progress->finished();
        return quenmark::unexpected(CommandError::io(path + " changed while it was read"));
    }
    return text;
}

CommandError refused_json_text(PaddedText const& text, std::string refusal)
{
    if (!quenmark::is_valid_utf8(text.view()))
        return CommandError::io(std::string(not_utf8_text));
    return CommandError::json(std::move(refusal));
}

PaddedText::PaddedText(PaddedText&& other) noexcept
    : m_bytes(std::move(other.m_bytes))
    , m_mapped(std::exchange(other.m_mapped, nullptr))
    , m_mapped_length(std::exchange(other.m_mapped_length, 0))
    , m_size(std::exchange(other.m_size, 0))
{
}

PaddedText& PaddedText::operator=(PaddedText&& other) noexcept
{
    if (this != &other) {
        release();
        m_bytes = std::move(other.m_bytes);
        m_mapped = std::exchange(other.m_mapped, nullptr);
        m_mapped_length = std::exchange(other.m_mapped_length, 0);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

PaddedText::~PaddedText() { release(); }

void PaddedText::release()
{
    if (m_mapped != nullptr) {
        release_mapped_file(m_mapped);
        ::munmap(m_mapped, m_mapped_length);
        m_mapped = nullptr;
    }
    m_bytes.reset();
}

void PaddedText::wipe()
{
    if (m_bytes)
        quenmark::zero_secret(std::as_writable_bytes(std::span(m_bytes.get(), m_size)));
}

} // namespace corvellactl

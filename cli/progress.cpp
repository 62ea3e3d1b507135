#include "progress.h"

#include "output.h"

#include "quenmark/text/text.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace corvellactl {
namespace {

// The descriptor progress lines go to; -1 while they are off.
int terminal_descriptor = -1;

// Moves to the start of the line; after the text, erases what an earlier,
// longer line left to its right.
constexpr std::string_view line_start = "\r";
constexpr std::string_view erase_rest = "\033[K";

// "393.0 MiB", "12.5 KiB", "512 bytes".
void append_size(std::string& out, std::size_t bytes)
{
    constexpr std::string_view units[] = { "KiB", "MiB", "GiB", "TiB" };
    if (bytes < 1024) {
        quenmark::append_decimal(out, bytes);
        out += " bytes";
        return;
    }
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char digits[32];
    auto const end = std::to_chars(std::begin(digits), std::end(digits), value, std::chars_format::fixed, 1).ptr;
    out.append(digits, end);
    out += ' ';
    out += units[unit];
}

std::size_t terminal_columns(int descriptor)
{
    winsize size {};
    if (::ioctl(descriptor, TIOCGWINSZ, &size) == 0)
        return size.ws_col;
    return 0;
}

// A job in the background does not draw on its terminal: it would scribble
// over the foreground's output, and with the terminal's tostop setting the
// write would stop the job. A terminal that is not the controlling one has no
// foreground to respect.
bool may_draw_on(int descriptor)
{
    pid_t const foreground = ::tcgetpgrp(descriptor);
    return foreground < 0 || foreground == ::getpgrp();
}

void write_all(int descriptor, std::string_view text)
{
    if (!may_draw_on(descriptor))
        return;
    // A terminal that cannot take the line only loses the line.
    while (!text.empty()) {
        ssize_t const written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

void enable_progress_on_terminal(int descriptor)
{
    if (::isatty(descriptor) == 1)
        terminal_descriptor = descriptor;
}

ProgressLine::ProgressLine(std::string_view task, std::string_view unit, std::size_t total_bytes)
    : ProgressLine(task, unit, total_bytes, ProgressSettings { .descriptor = terminal_descriptor })
{
}

ProgressLine::ProgressLine(std::string_view task, std::string_view unit, std::size_t total_bytes,
                           ProgressSettings settings)
    : m_settings(std::move(settings))
    , m_task(task)
    , m_unit(unit)
{
    started(total_bytes);
}

void ProgressLine::started(std::size_t total_bytes)
{
    m_total_bytes = total_bytes;
    m_active = m_settings.descriptor >= 0 && total_bytes >= m_settings.minimum_bytes && total_bytes > 0;
    if (!m_active)
        return;
    if (m_settings.columns == 0)
        m_settings.columns = terminal_columns(m_settings.descriptor);
    m_last_drawn = m_settings.now();
    std::string text = m_task + " (";
    append_size(text, m_total_bytes);
    text += ")...";
    draw(std::move(text));
}

ProgressLine::~ProgressLine() { finished(); }

void ProgressLine::finished()
{
    if (m_drawn)
        write_all(m_settings.descriptor, concat(line_start, erase_rest));
    m_drawn = false;
    m_active = false;
}

void ProgressLine::redraw_if_due(std::size_t done, std::size_t bytes)
{
    auto const now = m_settings.now();
    if (!m_counting) {
        m_counting = true;
        m_counting_since = now;
        m_done_before = done;
        return;
    }
    if (now - m_last_drawn < m_settings.interval)
        return;
    m_last_drawn = now;

    std::string text = concat(m_task, ": ", std::uint64_t { done });
    if (bytes > 0 && bytes <= m_total_bytes) {
        // The items still to come are taken to be the size of those so far.
        double const share = static_cast<double>(bytes) / static_cast<double>(m_total_bytes);
        append_parts(text, " of ~", static_cast<std::uint64_t>(static_cast<double>(done) / share + 0.5), ' ', m_unit,
                     " (", static_cast<std::uint64_t>(share * 100.0), "%)");
    } else {
        append_parts(text, ' ', m_unit);
    }
    double const seconds = std::chrono::duration<double>(now - m_counting_since).count();
    if (seconds > 0 && done >= m_done_before) {
        append_parts(text, ", ", static_cast<std::uint64_t>(static_cast<double>(done - m_done_before) / seconds), ' ',
                     m_unit, "/s");
    }
    draw(std::move(text));
}

void ProgressLine::draw(std::string text)
{
    // A line as wide as the terminal would wrap, and "\r" would then return
    // to the start of its second row only.
    if (m_settings.columns > 1 && text.size() >= m_settings.columns)
        text.resize(m_settings.columns - 1);
    write_all(m_settings.descriptor, concat(line_start, text, erase_rest));
    m_drawn = true;
}

CommandResult<Store> load_store_with_progress(std::string const& path, StoreUse const& use)
{
    ProgressLine progress("loading state file", "records");
    return load_store(path, &progress, use);
}

CommandResult<VerifiedChain> verify_chain_with_progress(std::string const& path, quenmark::VerifyingKey const& key,
                                                        quenmark::ChainQuery const& query)
{
    ProgressLine progress("verifying audit chain", "events");
    return verify_chain_file(path, key, query, &progress);
}

} // namespace corvellactl

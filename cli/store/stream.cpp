#include "store/stream.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

namespace corvellactl {

std::optional<std::size_t> Source::read(std::size_t offset, char* into, std::size_t count) const
{
    if (m_descriptor < 0) {
        std::size_t const copied = offset < m_text.size() ? std::min(count, m_text.size() - offset) : 0;
        std::memcpy(into, m_text.data() + offset, copied);
        return copied;
    }
    for (;;) {
        ssize_t const got = ::pread(m_descriptor, into, count, static_cast<off_t>(offset));
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            return std::nullopt;
    }
}

Stream::Stream(Source const& source, std::size_t begin, std::size_t end)
    : m_source(source)
    , m_offset(begin)
    , m_next(begin)
    , m_end(end)
    // Never more than the region needs.
    , m_buffer(1 + std::clamp<std::size_t>(end - begin, 1, std::max<std::size_t>(source.buffer_bytes(), 1))
               + quenmark::json::read_padding)
{
}

bool Stream::at_end() { return m_start == m_filled && (m_next == m_end || (!more() && m_next == m_end)); }

bool Stream::more()
{
    if (m_next == m_end)
        return false;
    std::size_t const held = m_filled - m_start;
    std::memmove(m_buffer.data() + 1, m_buffer.data() + m_start, held);
    m_start = 1;
    m_filled = 1 + held;
    std::size_t capacity = m_buffer.size() - 1 - quenmark::json::read_padding;
    if (held == capacity) {
        capacity *= 2;
        m_buffer.resize(1 + capacity + quenmark::json::read_padding);
    }
    auto const got = m_source.read(m_next, m_buffer.data() + m_filled, std::min(capacity - held, m_end - m_next));
    if (!got || *got == 0)
        return false;
    m_filled += *got;
    m_next += *got;
    return true;
}

bool Stream::take_literal(std::string_view text)
{
    while (window().size() < text.size()) {
        if (!more())
            return false;
    }
    if (!window().starts_with(text))
        return false;
    take(text.size());
    return true;
}

namespace {

// Where the records in the window stop being whole: the end of the array,
// or else the last separator before a record that may not be whole yet.
struct RecordBounds {
    std::optional<std::size_t> end;
    std::optional<std::size_t> last_separator;
};

// Both the separator and the end have a line feed second or first, and a
// byte that marks them apart from other lines further on.
RecordBounds find_record_bounds(std::string_view window, RecordLayout const& layout)
{
    RecordBounds bounds;
    find_marked_lines(window, layout.end.back(), layout.end.size() - 1, layout.separator.back(),
                      layout.separator.size() - 2, [&](std::size_t line_feed) {
                          if (window.substr(line_feed).starts_with(layout.end)) {
                              bounds.end = line_feed;
                              return false;
                          }
                          if (line_feed > 0 && window.substr(line_feed - 1).starts_with(layout.separator))
                              bounds.last_separator = line_feed - 1;
                          return true;
                      });
    return bounds;
}

} // namespace

bool stream_records(Stream& stream, RecordLayout const& layout, bool starts_inside, bool ends_inside,
                    quenmark::json::FunctionRef<bool(RecordRun const&)> read_run)
{
    if (!starts_inside) {
        if (stream.window().empty() && !stream.more())
            return false;
        if (stream.window().starts_with(']')) {
            stream.take(1);
            return !ends_inside;
        }
        if (!stream.take_literal(layout.start))
            return false;
    }
    for (;;) {
        auto const bounds = find_record_bounds(stream.window(), layout);
        if (bounds.end && ends_inside)
            return false;
        auto run_end = bounds.end ? bounds.end : bounds.last_separator;
        if (!run_end) {
            if (stream.more())
                continue;
            if (!ends_inside || stream.unread() != 0 || stream.window().empty())
                return false;
            run_end = stream.window().size();
        }
        char* const run = stream.window_data() - 1;
        run[0] = '[';
        run[*run_end + 1] = ']';
        if (!read_run({ .text = run, .size = *run_end + 2, .offset = stream.offset() - 1, .unread = stream.unread() }))
            return false;
        if (bounds.end) {
            stream.take(*bounds.end + layout.end.size());
            return true;
        }
        if (!bounds.last_separator) {
            stream.take(*run_end);
            return true;
        }
        // The window starts again at the next record's "{".
        stream.take(*bounds.last_separator + layout.separator.size() - 1);
    }
}

} // namespace corvellactl

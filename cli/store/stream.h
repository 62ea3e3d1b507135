#pragma once

// Reading a big JSON file laid out as this program writes it, a window at a
// time through one buffer that is used again and again: however big the
// file, the reading touches no fresh memory and maps nothing, and the
// parser sees runs of whole records, each between brackets of its own. A
// text laid out in any other way is not read this way; the caller then
// reads it whole, which is what says what is wrong with it.

#include <algorithm>
#include <cstddef>
#include <emmintrin.h>
#include <optional>
#include <string_view>
#include <vector>

#include "quenmark/json/read.h"

namespace corvellactl {

// Where a laid-out reading takes its bytes from: a file, read at offsets so
// that threads can share it, or a text already in memory; and how many
// bytes at a time.
class Source {
public:
    Source(int descriptor, std::size_t buffer_bytes) : m_descriptor(descriptor), m_buffer_bytes(buffer_bytes) { }
    Source(std::string_view text, std::size_t buffer_bytes) : m_text(text), m_buffer_bytes(buffer_bytes) { }

    std::size_t buffer_bytes() const { return m_buffer_bytes; }

    // Copies up to `count` bytes from `offset` to `into`: how many, 0 at the
    // end, none when the file cannot be read.
    [[nodiscard]] std::optional<std::size_t> read(std::size_t offset, char* into, std::size_t count) const;

private:
    int m_descriptor { -1 };
    std::string_view m_text;
    std::size_t m_buffer_bytes;
};

// A region of the source read in order through one buffer that is used
// again and again: the window is what has been read and not yet taken. The
// buffer keeps a byte before the window and the parser's padding after it,
// and bytes already taken are the reader's to overwrite.
class Stream {
public:
    Stream(Source const& source, std::size_t begin, std::size_t end);

    std::string_view window() const { return { m_buffer.data() + m_start, m_filled - m_start }; }
    char* window_data() { return m_buffer.data() + m_start; }
    // Where the window starts in the source.
    std::size_t offset() const { return m_offset; }
    // What is left of the region after the window.
    std::size_t unread() const { return m_end - m_next; }
    void take(std::size_t count)
    {
        m_start += count;
        m_offset += count;
    }
    // Whether all of the region has been read and taken, reading on to see.
    [[nodiscard]] bool at_end();

    // Reads more into the window: first moves it to the buffer's start, and
    // makes the buffer twice as big when the window fills it. False at the
    // region's end, or when the source cannot be read or ends early.
    [[nodiscard]] bool more();
    // Takes `text` when the window starts with it.
    [[nodiscard]] bool take_literal(std::string_view text);

private:
    Source const& m_source;
    std::size_t m_offset;
    std::size_t m_next;
    std::size_t m_end;
    std::vector<char> m_buffer;
    std::size_t m_start { 1 };
    std::size_t m_filled { 1 };
};

// Calls `found` with each place in `text` where a line feed is followed,
// `first_distance` or `second_distance` bytes on, by the byte given for that
// distance, as long as it returns true. Sixteen places are looked at a time;
// lines are short, so a search for the line feeds alone would stop at every
// line. The text must be followed by 32 readable bytes.
template<typename Found>
void find_marked_lines(std::string_view text, char first_mark, std::size_t first_distance, char second_mark,
                       std::size_t second_distance, Found found)
{
    constexpr std::size_t width = sizeof(__m128i);
    auto const load = [&text](std::size_t at) {
        return _mm_loadu_si128(reinterpret_cast<__m128i const*>(text.data() + at));
    };
    auto const line_feed = _mm_set1_epi8('\n');
    auto const first = _mm_set1_epi8(first_mark);
    auto const second = _mm_set1_epi8(second_mark);
    for (std::size_t at = 0; at < text.size(); at += width) {
        auto const marked = _mm_or_si128(_mm_cmpeq_epi8(load(at + first_distance), first),
                                         _mm_cmpeq_epi8(load(at + second_distance), second));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(load(at), line_feed), marked)));
        for (; mask != 0; mask &= mask - 1) {
            std::size_t const place = at + static_cast<std::size_t>(__builtin_ctz(mask));
            if (place < text.size() && !found(place))
                return;
        }
    }
}

// How the records of an array are laid out: after the "[" of an array that
// has some, between two of them, and at the array's end.
struct RecordLayout {
    std::string_view start;
    std::string_view separator;
    std::string_view end;
};

// A run of whole records as the parser reads it: an array of its own, at
// `offset` in the source, with `unread` bytes of the region after the window.
struct RecordRun {
    char const* text;
    std::size_t size;
    std::size_t offset;
    std::size_t unread;
};

// Reads an array's records from the stream, which is just after the array's
// "[" or, when the region starts inside the array, at the "{" of a record.
// Each run of whole records in the window goes to `read_run` between
// brackets written over the bytes around it. A separator or end found where
// a record is not whole leaves brackets that do not pair, which the parser
// refuses. When the region ends inside the array, its last records are those
// before the region's end. False when the text is laid out otherwise or
// `read_run` fails.
[[nodiscard]] bool stream_records(Stream& stream, RecordLayout const& layout, bool starts_inside, bool ends_inside,
                                  quenmark::json::FunctionRef<bool(RecordRun const&)> read_run);

} // namespace corvellactl

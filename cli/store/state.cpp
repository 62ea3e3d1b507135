#include "store/state.h"

#include "output.h"

#include "quenmark/json/value.h"
#include "quenmark/json/read.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

// The five lists of the state file, in file order.
enum class List : std::uint8_t { Assessments, Assignments, Attempts, Completions, Certificates };

constexpr std::array<std::string_view, 5> list_names {
    "assessments", "assignments", "attempts", "completions", "certificates",
};

constexpr std::array<List, 5> all_lists {
    List::Assessments, List::Assignments, List::Attempts, List::Completions, List::Certificates,
};

// Calls `visit` with the store's list of that name; const follows the store.
template<typename StoreType, typename Visit>
auto visit_list(StoreType& store, List list, Visit visit)
{
    switch (list) {
    case List::Assessments:
        return visit(store.assessments);
    case List::Assignments:
        return visit(store.assignments);
    case List::Attempts:
        return visit(store.attempts);
    case List::Completions:
        return visit(store.completions);
    case List::Certificates:
        return visit(store.certificates);
    }
    __builtin_unreachable();
}

// Makes room for the rest of a list at its second element: as many records
// as the rest of the document would hold if they were all the size of the
// first (the records of a list are much alike), but never more memory than
// the document's own text. Growing step by step would copy every record a
// few times and touch twice the memory.
template<typename Record>
void reserve_for_list(std::vector<Record>& list, std::size_t first_offset, quenmark::json::ValueReader const& second)
{
    std::size_t const offset = second.offset();
    std::size_t const size = second.document_size();
    if (offset <= first_offset || offset >= size)
        return;
    std::size_t const estimate = (size - offset) / (offset - first_offset);
    list.reserve(list.size() + std::min(estimate, size / sizeof(Record)));
}

// The records read so far from all lists, told to the progress every few
// hundred records.
struct RecordCount {
    Progress* progress;
    std::size_t records { 0 };
    // Where the text being read starts in the file.
    std::size_t base { 0 };

    void add(quenmark::json::ValueReader const& element)
    {
        constexpr std::size_t records_between_updates = 256;
        if (++records % records_between_updates == 0)
            progress->advanced(records, base + element.offset());
    }
};

template<typename Record>
quenmark::json::Read<void> read_list(quenmark::json::ValueReader& reader, std::vector<Record>& list,
                                     RecordCount* count)
{
    std::size_t first_offset = 0;
    return reader.array([&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
        if (list.empty())
            first_offset = element.offset();
        else if (list.size() == 1)
            reserve_for_list(list, first_offset, element);
        if (count != nullptr)
            count->add(element);
        return read_json(element, list.emplace_back());
    });
}

// Writes one member of the file form and calls `drain` after each record.
template<typename Record, typename Drain>
CommandResult<void> write_list(quenmark::json::Sink& sink, std::string_view name, std::vector<Record> const& list,
                               Drain& drain)
{
    sink.key(name);
    sink.begin_array();
    for (auto const& record : list) {
        write_json(sink, record);
        TRY(drain());
    }
    sink.end_array();
    return {};
}

// Appends the file form to `out` and calls `drain` after each record, so a
// caller may move what has gathered in `out` elsewhere on the way; the
// writer only ever appends, so emptying `out` in between changes nothing
// else. The first failure of `drain` ends the writing.
template<typename Drain>
CommandResult<void> write_store_draining(Store const& store, std::string& out, Drain& drain)
{
    quenmark::json::PrettyWriter writer(out);
    writer.begin_object();
    for (List const list : all_lists) {
        TRY(visit_list(store, list, [&](auto const& records) {
            return write_list(writer, list_names[static_cast<std::size_t>(list)], records, drain);
        }));
    }
    writer.end_object();
    return {};
}

// The file form as the writer lays it out: each list a member of the root
// object on a line of its own, in file order, and nothing else.
constexpr std::string_view laid_out_end = "\n}";

// Lets the whole pages inside a text read from a mapped file go.
void release_pages(std::string_view text)
{
    auto const page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    auto const begin = (reinterpret_cast<std::uintptr_t>(text.data()) + page - 1) / page * page;
    auto const end = (reinterpret_cast<std::uintptr_t>(text.data()) + text.size()) / page * page;
    if (begin < end)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

// Where a line starts a member of the root object, as the writer lays the
// file out: a comma, a line feed, two blanks and the name's quote. Found in
// [begin, end) of the text and no further.
constexpr std::string_view member_line = ",\n  \"";

void find_member_lines(std::string_view text, std::size_t begin, std::size_t end, std::vector<std::size_t>& found)
{
    // Sixteen places at a time: where a line feed comes next and a quote
    // four bytes on, as at the start of a member line of the root and
    // nowhere else but rarely. Lines are short, so a search for the rarest
    // byte would stop at every line; these compares do not stop at all.
    using Bytes = char __attribute__((vector_size(16)));
    constexpr std::size_t width = sizeof(Bytes);
    auto const load = [&text](std::size_t at) {
        Bytes bytes;
        std::memcpy(&bytes, text.data() + at, width);
        return bytes;
    };
    auto const matches = [&](std::size_t at) { return text.compare(at, member_line.size(), member_line) == 0; };
    std::size_t at = begin;
    for (; at < end && at + width + member_line.size() <= text.size(); at += width) {
        auto const hits = (load(at + 1) == '\n') & (load(at + 4) == '"');
        std::uint64_t halves[2];
        std::memcpy(halves, &hits, sizeof(halves));
        if ((halves[0] | halves[1]) == 0)
            continue;
        for (std::size_t lane = 0; lane < width && at + lane < end; ++lane) {
            if (matches(at + lane))
                found.push_back(at + lane);
        }
    }
    for (; at < end; ++at) {
        if (matches(at))
            found.push_back(at);
    }
}

// Reads a state file laid out as the writer lays it out with both cores,
// each list cut out and read on its own; none when the text is laid out in
// any other way or a list fails to read, for parse_store_counting() to read
// it whole and say what is wrong. The lists are cut where a line starts a
// member of the root: exactly four such lines must name the lists after the
// first, in order. A raw line feed cannot be inside a string, so those lines
// lie between values, and a cut anywhere but between the lists leaves a list
// that does not read whole, when the text is read whole instead. Read at the
// depth they have in the file, the lists give exactly the records and the
// failures of the whole.
std::optional<Store> parse_laid_out_counting(char const* data, std::size_t size, RecordCount* count,
                                             bool release_read_pages)
{
    std::string_view const text(data, size);
    std::string const first_opening = concat("{\n  \"", list_names[0], "\": ");
    if (!text.starts_with(first_opening) || !text.ends_with(laid_out_end))
        return std::nullopt;
    // Both halves of the text searched at once.
    std::vector<std::size_t> cuts;
    std::vector<std::size_t> later_cuts;
    {
        std::thread searcher([&] { find_member_lines(text, size / 2, size, later_cuts); });
        find_member_lines(text, 0, size / 2, cuts);
        searcher.join();
    }
    cuts.insert(cuts.end(), later_cuts.begin(), later_cuts.end());
    if (cuts.size() != all_lists.size() - 1)
        return std::nullopt;
    std::array<std::string_view, all_lists.size()> slices;
    std::size_t at = first_opening.size();
    for (std::size_t index = 0; index < all_lists.size(); ++index) {
        std::size_t const end = index < cuts.size() ? cuts[index] : size - laid_out_end.size();
        slices[index] = text.substr(at, end - at);
        if (index < cuts.size()) {
            std::string const opening = concat(member_line, list_names[index + 1], "\": ");
            if (text.compare(end, opening.size(), opening) != 0)
                return std::nullopt;
            at = end + opening.size();
        }
    }

    Store store;
    auto const read_lists = [&](std::size_t first, std::size_t last, RecordCount* counted) -> bool {
        for (std::size_t index = first; index < last; ++index) {
            if (counted != nullptr)
                counted->base = static_cast<std::size_t>(slices[index].data() - data);
            auto const read = visit_list(store, all_lists[index], [&](auto& records) {
                return quenmark::json::read_padded_document(
                    slices[index].data(), slices[index].size(),
                    [&](quenmark::json::ValueReader& list) { return read_list(list, records, counted); },
                    /*depth=*/1);
            });
            if (!read)
                return false;
            // The pages of a mapped file come back from the page cache if
            // they are needed again; until then they need not be resident.
            if (release_read_pages)
                release_pages(slices[index]);
        }
        return true;
    };
    // The first two lists hold about as many bytes as the other three.
    constexpr std::size_t split = 2;
    bool first_read = false;
    std::thread worker([&] { first_read = read_lists(0, split, nullptr); });
    bool const rest_read = read_lists(split, all_lists.size(), count);
    worker.join();
    if (!first_read || !rest_read)
        return std::nullopt;
    return store;
}

quenmark::Expected<Store, std::string> parse_store_counting(char const* data, std::size_t size, RecordCount* count)
{
    Store store;
    auto const read_root = [&store, count](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
        auto const on_member = [&store, count](std::size_t index,
                                               quenmark::json::ValueReader& value) -> quenmark::json::Read<void> {
            // The index is that of the member's name in list_names.
            return visit_list(store, all_lists[index],
                              [&value, count](auto& records) { return read_list(value, records, count); });
        };
        TRY(root.object(list_names, /*required=*/0, on_member));
        return {};
    };
    auto const result = quenmark::json::read_padded_document(data, size, read_root);
    if (!result)
        return quenmark::unexpected(result.error());
    return store;
}

} // namespace

quenmark::Expected<Store, std::string> parse_store(char const* data, std::size_t size)
{
    return parse_store_counting(data, size, /*count=*/nullptr);
}

std::optional<Store> parse_laid_out_store(char const* data, std::size_t size)
{
    return parse_laid_out_counting(data, size, /*count=*/nullptr, /*release_read_pages=*/false);
}

CommandResult<Store> load_store(std::string const& path, Progress* progress)
{
    if (!path_exists(path))
        return Store {};
    auto const text = TRY(read_json_text(path, progress));
    RecordCount count { progress };
    RecordCount* const counted = progress != nullptr ? &count : nullptr;
    // Two threads only pay for a big file.
    constexpr std::size_t smallest_split_file = std::size_t { 8 } << 20U;
    std::optional<Store> laid_out;
    if (text.size() >= smallest_split_file)
        laid_out = parse_laid_out_counting(text.data(), text.size(), counted, text.mapped());
    if (laid_out) {
        if (progress != nullptr)
            progress->finished();
        return std::move(*laid_out);
    }
    auto store = parse_store_counting(text.data(), text.size(), counted);
    if (progress != nullptr)
        progress->finished();
    if (!store)
        return quenmark::unexpected(refused_json_text(text, std::move(store).error()));
    return std::move(*store);
}

void write_store(Store const& store, std::string& out)
{
    auto const keep = []() -> CommandResult<void> { return {}; };
    // Nothing is drained, so nothing can fail.
    static_cast<void>(write_store_draining(store, out, keep));
}

CommandResult<FileReplacement> prepare_store(std::string const& path, Store const& store)
{
    // The file form goes to the file in chunks as it is written, so the
    // whole text is never held in memory at once.
    constexpr std::size_t chunk_size = std::size_t { 1 } << 20U;
    auto file = TRY(FileReplacement::begin(path));
    std::string chunk;
    chunk.reserve(chunk_size + chunk_size / 2);
    auto const drain = [&file, &chunk]() -> CommandResult<void> {
        if (chunk.size() < chunk_size)
            return {};
        TRY(file.write(chunk));
        chunk.clear();
        return {};
    };
    TRY(write_store_draining(store, chunk, drain));
    TRY(file.write(chunk));
    TRY(file.finish());
    return file;
}

CommandResult<void> save_store(std::string const& path, Store const& store)
{
    auto file = TRY(prepare_store(path, store));
    return install_together(std::span(&file, 1));
}

void replace_assignment(Store& store, corvella::TrainingAssignment assignment)
{
    if (auto stored = find(store, assignment.id)) {
        **stored = std::move(assignment);
        return;
    }
    store.assignments.push_back(std::move(assignment));
}

} // namespace corvellactl

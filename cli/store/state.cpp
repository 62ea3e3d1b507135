#include "store/state.h"

#include "output.h"
#include "store/stream.h"

#include "quenmark/json/value.h"
#include "quenmark/json/read.h"

#include <algorithm>
#include <array>
#include <bit>
#include <iterator>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>
#include <span>
#include <thread>
#include <type_traits>
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

// The count of a list's records that a reading does not keep.
std::size_t& not_kept_of(Store& store, List list)
{
    switch (list) {
    case List::Assessments:
        return store.not_kept.assessments;
    case List::Assignments:
        return store.not_kept.assignments;
    case List::Attempts:
        return store.not_kept.attempts;
    case List::Completions:
        return store.not_kept.completions;
    case List::Certificates:
        return store.not_kept.certificates;
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

// How a list is read: the progress told of its records, and what of them
// is kept.
struct ListReading {
    RecordCount* count { nullptr };
    bool kept { true };
    // Where the records not kept are counted, and how they are classed.
    std::size_t* not_kept { nullptr };
    Tally* tally { nullptr };
    std::vector<corvella::Holding>* holdings { nullptr };
    AssessmentTitles* titles { nullptr };
    std::vector<std::vector<std::uint64_t>>* answer_keys { nullptr };
    std::vector<CompletionLink>* completion_links { nullptr };
    StoreUse const* use { nullptr };
    bool questions_kept { true };
    bool question_texts_kept { true };
    // Of the records that name a principal, an assessment or a certificate
    // among those below, only this one's are kept.
    std::optional<corvella::IdentityId> principal;
    std::optional<corvella::AssessmentId> assessment;
    std::optional<corvella::CertificationId> certificate;
};

// The principal a record names, for the kinds a principal's records are
// picked from.
corvella::IdentityId const* principal_of(corvella::TrainingAssignment const& record) { return &record.principal_id; }
corvella::IdentityId const* principal_of(corvella::KnowledgeCheckAttempt const& record) { return &record.principal_id; }
corvella::IdentityId const* principal_of(corvella::CompletionRecord const& record) { return &record.principal_id; }
corvella::IdentityId const* principal_of(corvella::Certificate const& record) { return &record.payload.principal_id; }
template<typename Record>
corvella::IdentityId const* principal_of(Record const&)
{
    return nullptr;
}

// The assessment a record is, or is of, for the kinds an assessment's
// records are picked from.
corvella::AssessmentId const* assessment_of(corvella::AssessmentDefinition const& record) { return &record.id; }
corvella::AssessmentId const* assessment_of(corvella::TrainingAssignment const& record) { return &record.assessment_id; }
corvella::AssessmentId const* assessment_of(corvella::KnowledgeCheckAttempt const& record)
{
    return &record.assessment_id;
}
template<typename Record>
corvella::AssessmentId const* assessment_of(Record const&)
{
    return nullptr;
}

corvella::CertificationId const* certificate_of(corvella::Certificate const& record)
{
    return &record.payload.certificate_id;
}
template<typename Record>
corvella::CertificationId const* certificate_of(Record const&)
{
    return nullptr;
}

// Whether a record matches what the reading picks; a kind it does not pick
// from always does.
template<typename Id>
bool picked(Id const* id, std::optional<Id> const& wanted_id)
{
    return !wanted_id || id == nullptr || *id == *wanted_id;
}

// A certificate that pick_certificate refuses leaves its holding.
template<typename Record>
bool wanted(Record const& record, ListReading const& reading)
{
    if constexpr (std::is_same_v<Record, corvella::TrainingAssignment>) {
        if (reading.use->pick_assignment && !reading.use->pick_assignment(record))
            return false;
    } else if constexpr (std::is_same_v<Record, corvella::Certificate>) {
        if (reading.use->pick_certificate && !reading.use->pick_certificate(record)) {
            reading.holdings->push_back(corvella::holding_of(record));
            return false;
        }
    }
    return picked(principal_of(record), reading.principal) && picked(assessment_of(record), reading.assessment)
        && picked(certificate_of(record), reading.certificate);
}

// Whether the reading keeps only some of a list's records.
template<typename Record>
bool picks(ListReading const& reading)
{
    if constexpr (std::is_same_v<Record, corvella::TrainingAssignment>) {
        if (reading.use->pick_assignment)
            return true;
    } else if constexpr (std::is_same_v<Record, corvella::Certificate>) {
        if (reading.use->pick_certificate)
            return true;
    }
    return reading.principal || reading.assessment || reading.certificate;
}

// Whether the reading keeps less of a record than it reads.
template<typename Record>
bool trims(ListReading const& reading)
{
    if constexpr (std::is_same_v<Record, corvella::AssessmentDefinition>)
        return !reading.questions_kept || !reading.question_texts_kept;
    return false;
}

// What is kept of a record read over the previous one: the record itself,
// or, for an assessment kept without its questions or their texts, a copy
// of the rest, which leaves the questions' memory to be read over again
// instead of allocating and freeing every prompt and choice.
template<typename Record>
Record kept_part(Record& record, ListReading const& reading)
{
    if constexpr (std::is_same_v<Record, corvella::AssessmentDefinition>) {
        if (trims<Record>(reading)) {
            corvella::AssessmentDefinition kept { .id = record.id,
                                                  .course_id = record.course_id,
                                                  .title = record.title,
                                                  .version = record.version,
                                                  .status = record.status,
                                                  .passing_rule = record.passing_rule,
                                                  .questions = {},
                                                  .attempt_limit = record.attempt_limit };
            if (reading.questions_kept) {
                kept.questions.reserve(record.questions.size());
                for (auto const& question : record.questions)
                    kept.questions.push_back(
                        { .id = question.id, .prompt = {}, .choices = {}, .correct_index = question.correct_index });
            }
            return kept;
        }
    }
    return std::move(record);
}

// What a record read, kept or not, leaves beside the lists when the reading
// asks for it: an assessment's title and answer key, a completion record's
// link.
template<typename Record>
void leave_beside(Record const& record, ListReading const& reading)
{
    if constexpr (std::is_same_v<Record, corvella::AssessmentDefinition>) {
        if (reading.use->titles)
            reading.titles->add(record.id, record.title);
        if (reading.use->answer_keys) {
            auto& key = reading.answer_keys->emplace_back();
            key.reserve(record.questions.size());
            for (auto const& question : record.questions)
                key.push_back(question.correct_index);
        }
    } else if constexpr (std::is_same_v<Record, corvella::CompletionRecord>) {
        if (reading.use->completion_links)
            reading.completion_links->push_back({ .id = record.id, .assignment_id = record.assignment_id });
    }
}

// Whether a store read for `use` keeps the records of `list`.
bool keeps(StoreUse const& use, List list)
{
    switch (list) {
    case List::Assessments:
        return use.assessments;
    case List::Assignments:
        return use.assignments;
    case List::Attempts:
        return use.attempts;
    case List::Completions:
        return use.completions;
    case List::Certificates:
        return use.certificates;
    }
    __builtin_unreachable();
}

ListReading reading_of(StoreUse const& use, List list, Store& store, RecordCount* count)
{
    return { .count = count,
             .kept = keeps(use, list),
             .not_kept = &not_kept_of(store, list),
             .tally = &store.tally,
             .holdings = &store.holdings,
             .titles = &store.titles,
             .answer_keys = &store.answer_keys,
             .completion_links = &store.completion_links,
             .use = &use,
             .questions_kept = use.questions,
             .question_texts_kept = use.question_texts,
             .principal = use.principal,
             .assessment = use.assessment,
             .certificate = use.certificate };
}

// Counts a record not kept in the tally under the classes its kind's
// classifier gives it, if the reading has one for that kind.
template<typename Record>
void count_classes(Record const& record, ListReading const& reading)
{
    std::uint32_t classes = 0;
    if constexpr (std::is_same_v<Record, corvella::AssessmentDefinition>) {
        if (reading.use->classify_assessment)
            classes = reading.use->classify_assessment(record);
    } else if constexpr (std::is_same_v<Record, corvella::TrainingAssignment>) {
        if (reading.use->classify_assignment)
            classes = reading.use->classify_assignment(record);
    } else if constexpr (std::is_same_v<Record, corvella::Certificate>) {
        if (reading.use->classify_certificate)
            classes = reading.use->classify_certificate(record);
    }
    for (; classes != 0; classes &= classes - 1)
        ++(*reading.tally)[static_cast<std::size_t>(std::countr_zero(classes))];
}

// Every element of a list is read as a record, so a list that does not
// read is refused as always; the records not kept are read one over the
// other, in memory that serves them all.
template<typename Record>
quenmark::json::Read<void> read_list(quenmark::json::ValueReader& reader, std::vector<Record>& list,
                                     ListReading const& reading)
{
    std::size_t first_offset = 0;
    Record unused;
    return reader.array([&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
        if (reading.count != nullptr)
            reading.count->add(element);
        if (!reading.kept) {
            ++*reading.not_kept;
            TRY(read_json(element, unused));
            count_classes(unused, reading);
            leave_beside(unused, reading);
            return {};
        }
        bool const picking = picks<Record>(reading);
        if (!picking) {
            if (list.empty())
                first_offset = element.offset();
            else if (list.size() == 1)
                reserve_for_list(list, first_offset, element);
        }
        if (picking || trims<Record>(reading)) {
            TRY(read_json(element, unused));
            leave_beside(unused, reading);
            if (wanted(unused, reading))
                list.push_back(kept_part(unused, reading));
            return {};
        }
        TRY(read_json(element, list.emplace_back()));
        leave_beside(list.back(), reading);
        return {};
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

// The state file as the writer lays it out: each list a member of the root
// object on a line of its own, in file order; each record of a list on
// lines of its own, indented by four blanks.
constexpr std::string_view laid_out_end = "\n}";
constexpr RecordLayout list_layout { .start = "\n    ", .separator = ",\n    {", .end = "\n  ]" };
constexpr std::string_view record_separator = list_layout.separator;

std::string list_opening(std::size_t index)
{
    return index == 0 ? concat("{\n  \"", list_names[0], "\": [") : concat(",\n  \"", list_names[index], "\": [");
}

// Reads a list's records from the stream, each run of them as a list of its
// own at the depth of the list.
// The records of a list are much alike: after a run that added `added`
// items (or bytes of text) from its `run.size` bytes, room for as many more
// as the rest of the region would hold if it were like the run, but never
// more than the region's bytes. Growing step by step would copy them a few
// times and touch twice the memory.
std::size_t more_like_run(std::size_t added, RecordRun const& run, std::size_t item_size)
{
    if (added == 0)
        return 0;
    std::size_t const bytes_per_item = std::max<std::size_t>(run.size / added, 1);
    return std::min(run.unread / bytes_per_item, run.unread / item_size);
}

template<typename Item>
void reserve_like_run(std::vector<Item>& items, std::size_t before, RecordRun const& run)
{
    items.reserve(items.size() + more_like_run(items.size() - before, run, sizeof(Item)));
}

// What a list's reading leaves beside it, as the first run left it.
struct BesideSizes {
    std::size_t holdings { 0 };
    std::size_t titles { 0 };
    std::size_t title_text { 0 };
    std::size_t answer_keys { 0 };
    std::size_t completion_links { 0 };
};

BesideSizes beside_sizes(ListReading const& reading)
{
    return { .holdings = reading.holdings->size(),
             .titles = reading.titles->size(),
             .title_text = reading.titles->text_size(),
             .answer_keys = reading.answer_keys->size(),
             .completion_links = reading.completion_links->size() };
}

void reserve_beside(ListReading const& reading, BesideSizes const& before, RecordRun const& run)
{
    reserve_like_run(*reading.holdings, before.holdings, run);
    reserve_like_run(*reading.answer_keys, before.answer_keys, run);
    reserve_like_run(*reading.completion_links, before.completion_links, run);
    auto& titles = *reading.titles;
    titles.reserve(titles.size() + more_like_run(titles.size() - before.titles, run, sizeof(corvella::AssessmentId)),
                   titles.text_size() + more_like_run(titles.text_size() - before.title_text, run, 1));
}

template<typename Record>
bool stream_list(Stream& stream, std::vector<Record>& records, ListReading const& reading, bool starts_inside,
                 bool ends_inside)
{
    bool first_run = true;
    return stream_records(stream, list_layout, starts_inside, ends_inside, [&](RecordRun const& run) {
        if (reading.count != nullptr)
            reading.count->base = run.offset;
        std::size_t const before = records.size();
        BesideSizes const beside_before = beside_sizes(reading);
        auto const read = quenmark::json::read_padded_document(
            run.text, run.size, [&](quenmark::json::ValueReader& list) { return read_list(list, records, reading); },
            /*depth=*/1);
        if (read && first_run) {
            reserve_like_run(records, before, run);
            reserve_beside(reading, beside_before, run);
        }
        first_run = false;
        return read.has_value();
    });
}

// A part of the source that one thread reads: the lists from `first` to
// `last`, the first perhaps from a record separator inside it on and the
// last perhaps up to one.
struct Region {
    std::size_t begin { 0 };
    std::size_t end { 0 };
    std::size_t first { 0 };
    std::size_t last { all_lists.size() - 1 };
    bool starts_inside { false };
    bool ends_inside { false };
};

// Reads a region of the source that holds exactly its lists' text as laid
// out, into the store's lists.
bool stream_lists(Source const& source, Region const& region, Store& store, StoreUse const& use, RecordCount* count)
{
    Stream stream(source, region.begin, region.end);
    for (std::size_t index = region.first; index <= region.last; ++index) {
        bool const starts_inside = region.starts_inside && index == region.first;
        bool const ends_inside = region.ends_inside && index == region.last;
        if (!stream.take_literal(starts_inside ? record_separator.substr(0, record_separator.size() - 1)
                                               : std::string_view(list_opening(index))))
            return false;
        bool const read = visit_list(store, all_lists[index], [&](auto& records) {
            return stream_list(stream, records, reading_of(use, all_lists[index], store, count), starts_inside,
                               ends_inside);
        });
        if (!read)
            return false;
    }
    if (region.last + 1 == all_lists.size() && !region.ends_inside && !stream.take_literal(laid_out_end))
        return false;
    return stream.at_end();
}

constexpr std::string_view member_line = ",\n  \"";

// The list whose opening is the member line at `at`, if any.
std::optional<std::size_t> list_opened_at(Source const& source, std::size_t at, std::size_t size)
{
    // Only as many bytes as the longest opening are read.
    std::size_t longest = 0;
    for (std::size_t index = 1; index < all_lists.size(); ++index)
        longest = std::max(longest, list_opening(index).size());
    Stream stream(source, at, std::min(size, at + longest));
    for (std::size_t index = 1; index < all_lists.size(); ++index) {
        if (stream.take_literal(list_opening(index)))
            return index;
    }
    return std::nullopt;
}

// The list that a record separator at `at` lies in: the one that the
// nearest member line before it opens, or the first when there is none.
std::optional<std::size_t> list_around(Source const& source, std::size_t at, std::size_t size)
{
    std::size_t const block = std::clamp<std::size_t>(at, 1, std::max<std::size_t>(source.buffer_bytes(), 1));
    std::vector<char> buffer(block + member_line.size() + quenmark::json::read_padding);
    std::size_t end = at;
    while (end > 0) {
        std::size_t const begin = end > block ? end - block : 0;
        // A line that the block's end cuts is read whole.
        std::size_t const length = end - begin + member_line.size();
        auto const got = source.read(begin, buffer.data(), length);
        if (!got || *got != length)
            return std::nullopt;
        std::string_view const text(buffer.data(), length);
        std::optional<std::size_t> nearest;
        find_marked_lines(text, member_line.back(), member_line.size() - 2, member_line.back(),
                          member_line.size() - 2, [&](std::size_t line_feed) {
                              if (line_feed > 0 && line_feed - 1 < end - begin
                                  && text.substr(line_feed - 1).starts_with(member_line))
                                  nearest = line_feed - 1;
                              return true;
                          });
        if (nearest)
            return list_opened_at(source, begin + *nearest, size);
        end = begin;
    }
    return 0;
}

// Where the second thread starts: at the first record separator or member
// line from the middle of the source on, which splits the work about in
// half; none when there is neither, or the line belongs to no list.
std::optional<Region> find_split(Source const& source, std::size_t size)
{
    Stream stream(source, size / 2, size);
    while (stream.more()) {
        auto const window = stream.window();
        std::optional<std::size_t> line;
        find_marked_lines(window, record_separator.back(), record_separator.size() - 2, member_line.back(),
                          member_line.size() - 2, [&](std::size_t line_feed) {
                              if (line_feed > 0
                                  && (window.substr(line_feed - 1).starts_with(record_separator)
                                      || window.substr(line_feed - 1).starts_with(member_line)))
                                  line = line_feed - 1;
                              return !line;
                          });
        if (line) {
            std::size_t const at = stream.offset() + *line;
            bool const inside = window.substr(*line).starts_with(record_separator);
            auto const list = inside ? list_around(source, at, size) : list_opened_at(source, at, size);
            if (!list)
                return std::nullopt;
            return Region { .begin = at, .end = size, .first = *list, .starts_inside = inside };
        }
        // A line cut by the window's end is looked at again with the rest.
        stream.take(window.size() - std::min(window.size(), record_separator.size()));
    }
    return std::nullopt;
}

// Reads a state text laid out as the writer lays it out, streamed through a
// small buffer, on both cores when the text has a list that starts in its
// second half; none when the text is laid out in any other way or a list
// fails to read, for parse_store_counting() to read it whole and say what is
// wrong. The text is then exactly the literal lines checked here around the
// runs of records the parser read, each as a list of its own at the depth
// of the list: so the whole would read as the same store.
std::optional<Store> read_laid_out(Source const& source, std::size_t size, StoreUse const& use, RecordCount* count)
{
    // Nothing else is looked for in a text that is not laid out at all.
    std::string const first_opening = list_opening(0);
    if (Stream opening(source, 0, std::min(size, first_opening.size())); !opening.take_literal(first_opening))
        return std::nullopt;
    Store store;
    auto const split = find_split(source, size);
    if (!split) {
        if (!stream_lists(source, Region { .end = size }, store, use, count))
            return std::nullopt;
        return store;
    }
    // The first thread reads up to the split, the second from it into a
    // store of its own, whose records follow the first's.
    Region const before { .end = split->begin,
                          .last = split->starts_inside ? split->first : split->first - 1,
                          .ends_inside = split->starts_inside };
    bool first_read = false;
    std::thread worker([&] { first_read = stream_lists(source, before, store, use, /*count=*/nullptr); });
    Store rest;
    bool const rest_read = stream_lists(source, *split, rest, use, count);
    worker.join();
    if (!first_read || !rest_read)
        return std::nullopt;
    // The second's lists before the split are empty.
    auto const append = [](auto& records, auto& more) {
        if (records.empty())
            records = std::move(more);
        else
            records.insert(records.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    append(store.assessments, rest.assessments);
    append(store.assignments, rest.assignments);
    append(store.attempts, rest.attempts);
    append(store.completions, rest.completions);
    append(store.certificates, rest.certificates);
    store.not_kept.assessments += rest.not_kept.assessments;
    store.not_kept.assignments += rest.not_kept.assignments;
    store.not_kept.attempts += rest.not_kept.attempts;
    store.not_kept.completions += rest.not_kept.completions;
    store.not_kept.certificates += rest.not_kept.certificates;
    for (std::size_t index = 0; index < store.tally.size(); ++index)
        store.tally[index] += rest.tally[index];
    append(store.holdings, rest.holdings);
    store.titles.append(std::move(rest.titles));
    append(store.answer_keys, rest.answer_keys);
    append(store.completion_links, rest.completion_links);
    return store;
}

quenmark::Expected<Store, std::string> parse_store_counting(char const* data, std::size_t size, StoreUse const& use,
                                                            RecordCount* count)
{
    Store store;
    auto const read_root = [&store, &use, count](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
        auto const on_member = [&store, &use, count](std::size_t index,
                                                     quenmark::json::ValueReader& value) -> quenmark::json::Read<void> {
            // The index is that of the member's name in list_names.
            List const list = all_lists[index];
            return visit_list(store, list, [&](auto& records) {
                return read_list(value, records, reading_of(use, list, store, count));
            });
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

void AssessmentTitles::reserve(std::size_t entries, std::size_t text_bytes)
{
    m_entries.reserve(entries);
    m_text.reserve(text_bytes);
}

void AssessmentTitles::add(corvella::AssessmentId const& id, std::string_view title)
{
    m_text.append(title);
    m_entries.push_back({ .id = id, .end = m_text.size() });
}

void AssessmentTitles::append(AssessmentTitles&& more)
{
    if (m_entries.empty()) {
        *this = std::move(more);
        return;
    }
    std::size_t const shift = m_text.size();
    m_text.append(more.m_text);
    m_entries.reserve(m_entries.size() + more.m_entries.size());
    for (auto const& entry : more.m_entries)
        m_entries.push_back({ .id = entry.id, .end = entry.end + shift });
}

std::string_view AssessmentTitles::title(std::size_t index) const
{
    std::size_t const start = index == 0 ? 0 : m_entries[index - 1].end;
    return std::string_view(m_text).substr(start, m_entries[index].end - start);
}

quenmark::Expected<Store, std::string> parse_store(char const* data, std::size_t size, StoreUse const& use)
{
    return parse_store_counting(data, size, use, /*count=*/nullptr);
}

std::optional<Store> parse_laid_out_store(char const* data, std::size_t size, StoreUse const& use,
                                          std::size_t buffer_bytes)
{
    return read_laid_out(Source(std::string_view(data, size), buffer_bytes), size, use, /*count=*/nullptr);
}

CommandResult<Store> load_store(std::string const& path, Progress* progress, StoreUse const& use)
{
    if (!path_exists(path))
        return Store {};
    RecordCount count { progress };
    RecordCount* const counted = progress != nullptr ? &count : nullptr;
    // A big file is streamed as laid out; anything else is read whole.
    constexpr std::size_t smallest_streamed_file = std::size_t { 8 } << 20U;
    Descriptor file(open_file(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    bool streamed = false;
    if (file.is_open() && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)
        && static_cast<std::size_t>(status.st_size) >= smallest_streamed_file) {
        auto const size = static_cast<std::size_t>(status.st_size);
        if (progress != nullptr)
            progress->started(size);
        streamed = true;
        auto laid_out = read_laid_out(Source(file.get(), laid_out_buffer_bytes), size, use, counted);
        // A file that grew while it was read is read again whole, which
        // says that it changed.
        if (laid_out && ::fstat(file.get(), &status) == 0 && static_cast<std::size_t>(status.st_size) == size) {
            if (progress != nullptr)
                progress->finished();
            return std::move(*laid_out);
        }
        count.records = 0;
    }
    file = Descriptor();
    // The progress already shows the file when it was streamed.
    auto text = read_json_text(path, streamed ? nullptr : progress);
    if (!text) {
        if (streamed && progress != nullptr)
            progress->finished();
        return quenmark::unexpected(std::move(text).error());
    }
    auto store = parse_store_counting(text->data(), text->size(), use, counted);
    if (progress != nullptr)
        progress->finished();
    if (!store)
        return quenmark::unexpected(refused_json_text(*text, std::move(store).error()));
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

void keep_until_exit(Store&& store)
{
    // Never destroyed, and reachable to the end, so no leak checker counts it.
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): owned by the process
    static auto* const kept = new std::vector<Store>();
    kept->push_back(std::move(store));
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

#pragma once

// The state file and its in-memory form: five ordered lists of records, no
// index; lookups scan in list order and take the first match.

#include "context.h"
#include "store/read.h"
#include "store/replace.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/expected.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace corvellactl {

// How many records each list holds.
struct ListSizes {
    std::size_t assessments { 0 };
    std::size_t assignments { 0 };
    std::size_t attempts { 0 };
    std::size_t completions { 0 };
    std::size_t certificates { 0 };

    friend bool operator==(ListSizes const&, ListSizes const&) = default;
};

// How many records fall in each of up to 32 classes.
using Tally = std::array<std::uint64_t, 32>;

// Of a completion record, what a certificate's row shows of it.
struct CompletionLink {
    corvella::CompletionRecordId id;
    std::optional<corvella::AssignmentId> assignment_id;

    friend bool operator==(CompletionLink const&, CompletionLink const&) = default;
};

// The identifier and title of each of a list of assessments, the titles one
// after the other in one text: all that most reports' rows need of them, in
// a small part of the memory the records would take.
class AssessmentTitles {
public:
    void add(corvella::AssessmentId const& id, std::string_view title);
    // Those of `more` after these.
    void append(AssessmentTitles&& more);
    // Room for this many titles and bytes of their text in all.
    void reserve(std::size_t entries, std::size_t text_bytes);

    [[nodiscard]] std::size_t size() const { return m_entries.size(); }
    [[nodiscard]] std::size_t text_size() const { return m_text.size(); }
    [[nodiscard]] corvella::AssessmentId const& id(std::size_t index) const { return m_entries[index].id; }
    [[nodiscard]] std::string_view title(std::size_t index) const;

    friend bool operator==(AssessmentTitles const&, AssessmentTitles const&) = default;

private:
    struct Entry {
        corvella::AssessmentId id;
        // Where the title ends in the text; it starts where the one before ends.
        std::size_t end { 0 };

        friend bool operator==(Entry const&, Entry const&) = default;
    };
    std::vector<Entry> m_entries;
    std::string m_text;
};

// The classes a record falls in, one bit each (bit n for class n).
template<typename Record>
using Classify = std::function<std::uint32_t(Record const&)>;

struct Store {
    std::vector<corvella::AssessmentDefinition> assessments;
    std::vector<corvella::TrainingAssignment> assignments;
    std::vector<corvella::KnowledgeCheckAttempt> attempts;
    std::vector<corvella::CompletionRecord> completions;
    std::vector<corvella::Certificate> certificates;
    // Of each list a reading did not keep at all, how many records the file
    // held; none of a list kept, even in part.
    ListSizes not_kept {};
    // The records not kept that StoreUse's classifiers sorted, by class.
    Tally tally {};
    // The holding of each certificate StoreUse::pick_certificate refused,
    // in stored order.
    std::vector<corvella::Holding> holdings {};
    // With StoreUse::titles, those of every assessment read, kept or not, in
    // stored order.
    AssessmentTitles titles {};
    // With StoreUse::answer_keys, the correct index of each question of
    // every assessment read, kept or not, in stored order.
    std::vector<std::vector<std::uint64_t>> answer_keys {};
    // With StoreUse::completion_links, the link of every completion record
    // read, kept or not, in stored order.
    std::vector<CompletionLink> completion_links {};

    friend bool operator==(Store const&, Store const&) = default;
};

// What a command that only reads the state uses of it. Every record is
// read and checked all the same, so a file is refused exactly as when it is
// read whole; what is not used is not kept, which spares the memory it
// would take and the time to fill that memory. A command that changes the
// state reads it whole: a store without some of its records must never be
// written back.
struct StoreUse {
    bool assessments { true };
    // Without them each assessment kept has no questions.
    bool questions { true };
    // Without them each question kept has no prompt and no choices.
    bool question_texts { true };
    bool assignments { true };
    bool attempts { true };
    bool completions { true };
    bool certificates { true };
    // Each assessment read leaves its identifier and title in Store::titles.
    bool titles { false };
    // Each assessment read leaves its answer key in Store::answer_keys: the
    // little its questions take to score an attempt.
    bool answer_keys { false };
    // Each completion record read leaves its link in Store::completion_links,
    // which a certificate's is looked up among, for much less memory than
    // the records.
    bool completion_links { false };
    // When set, of the assignments, attempts, completion records and
    // certificates only those of this principal.
    std::optional<corvella::IdentityId> principal {};
    // When set, only this assessment and, of the assignments and attempts,
    // those of it.
    std::optional<corvella::AssessmentId> assessment {};
    // When set, of the certificates only those with this certificate id.
    std::optional<corvella::CertificationId> certificate {};
    // For a command that needs only how many records of a kind there are of
    // each class: each assessment, assignment or certificate not kept is
    // counted in the store's tally under the classes these give it. They are
    // called on the threads that read the file, and so must look at nothing
    // but the record.
    Classify<corvella::AssessmentDefinition> classify_assessment {};
    Classify<corvella::TrainingAssignment> classify_assignment {};
    Classify<corvella::Certificate> classify_certificate {};
    // When set, of the assignments kept only those it accepts; called as the
    // classifiers are.
    std::function<bool(corvella::TrainingAssignment const&)> pick_assignment {};
    // When set, of the certificates kept only those it accepts; of each one
    // it refuses, only the holding is kept. Called as the classifiers are.
    std::function<bool(corvella::Certificate const&)> pick_certificate {};
};

// Reads the state file. A path whose metadata cannot be read is an empty
// store (no file is created); an unreadable file or one that is not UTF-8 is
// Io; text that is not a state object is Json. Members may come in any order,
// missing ones are empty lists, unknown ones are skipped, a repeated one fails.
// A progress is told the records read; only what `use` names is kept.
[[nodiscard]] CommandResult<Store> load_store(std::string const& path, Progress* progress = nullptr,
                                              StoreUse const& use = {});

// Parses state text that is followed by at least quenmark::json::read_padding
// readable bytes; errors are the reader's message with line and column.
[[nodiscard]] quenmark::Expected<Store, std::string> parse_store(char const* data, std::size_t size,
                                                                 StoreUse const& use = {});
// The same store, read with both cores, from a text laid out exactly as
// write_store() lays it out, through a buffer of `buffer_bytes` that grows
// only for a record bigger than itself; none for any other text and for any
// text that parse_store() refuses, which is then the one to say why.
// load_store() reads a big file this way, from the file.
inline constexpr std::size_t laid_out_buffer_bytes = std::size_t { 1 } << 20U;
[[nodiscard]] std::optional<Store> parse_laid_out_store(char const* data, std::size_t size, StoreUse const& use = {},
                                                        std::size_t buffer_bytes = laid_out_buffer_bytes);

// Appends the file form: the five lists in order, pretty printed, no final
// line feed.
void write_store(Store const& store, std::string& out);

// The store's file form written and flushed beside the state file, ready to
// be put in place with the command's other files. Io when it cannot be
// written.
[[nodiscard]] CommandResult<FileReplacement> prepare_store(std::string const& path, Store const& store);

// Replaces the state file with the store's file form, atomically.
[[nodiscard]] CommandResult<void> save_store(std::string const& path, Store const& store);

// Ends the store's use without freeing its records one by one: their memory
// is kept until the process ends, when the system takes it back whole. For a
// command that is done with a big store; at 100,000 records of each kind the
// freeing took about a twentieth of a changing command's time.
void keep_until_exit(Store&& store);

// Which list holds the records an identifier names, what a NotFound error
// calls them, and where a record keeps its identifier.
template<typename Id>
struct Lookup;

template<>
struct Lookup<corvella::AssessmentId> {
    static constexpr auto list = &Store::assessments;
    static constexpr std::string_view name = "assessment";
    static auto const& id_of(corvella::AssessmentDefinition const& record) { return record.id; }
};

template<>
struct Lookup<corvella::AssignmentId> {
    static constexpr auto list = &Store::assignments;
    static constexpr std::string_view name = "assignment";
    static auto const& id_of(corvella::TrainingAssignment const& record) { return record.id; }
};

template<>
struct Lookup<corvella::CompletionRecordId> {
    static constexpr auto list = &Store::completions;
    static constexpr std::string_view name = "completion record";
    static auto const& id_of(corvella::CompletionRecord const& record) { return record.id; }
};

// A certificate is found by its payload's certificate id.
template<>
struct Lookup<corvella::CertificationId> {
    static constexpr auto list = &Store::certificates;
    static constexpr std::string_view name = "certificate";
    static auto const& id_of(corvella::Certificate const& record) { return record.payload.certificate_id; }
};

// The first record with the identifier, const when the store is; NotFound
// ("assessment " + id, "completion record " + id, ...) when there is none.
template<typename StoreType, typename Id>
    requires std::same_as<std::remove_const_t<StoreType>, Store>
[[nodiscard]] auto find(StoreType& store, Id const& id) -> CommandResult<decltype(&(store.*Lookup<Id>::list)[0])>
{
    auto& list = store.*Lookup<Id>::list;
    for (auto& record : list) {
        if (Lookup<Id>::id_of(record) == id)
            return &record;
    }
    return quenmark::unexpected(CommandError::not_found(std::string(Lookup<Id>::name) + " " + id.to_string()));
}

// Overwrites the first assignment with the same id, or appends it when none
// has that id.
void replace_assignment(Store& store, corvella::TrainingAssignment assignment);

} // namespace corvellactl

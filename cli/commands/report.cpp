// The reports: readiness counts, and the lists of overdue assignments,
// certificates to renew, one learner's records and how an assessment's
// attempts went. Each list is an aligned table, CSV with --csv, or one JSON
// object per row with --json. Reports read the state file only.

#include "command.h"
#include "csv_rows.h"
#include "output.h"
#include "progress.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "corvella/reports.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

struct Readiness {
    std::uint64_t published { 0 };
    std::uint64_t draft { 0 };
    std::uint64_t retired { 0 };
    std::uint64_t assigned { 0 };
    std::uint64_t in_progress { 0 };
    std::uint64_t completed { 0 };
    std::uint64_t cancelled { 0 };
    std::uint64_t overdue { 0 };
    std::uint64_t completions { 0 };
    std::uint64_t valid { 0 };
    std::uint64_t expired { 0 };
    std::uint64_t revoked { 0 };
};

// The classes that assessments, assignments and certificates are counted in
// as the state is read, so that none of them is kept.
enum Class : std::uint8_t {
    Assigned,
    InProgress,
    Completed,
    Cancelled,
    Overdue,
    Valid,
    Expired,
    Revoked,
    Published,
    Draft,
    Retired
};

constexpr std::uint32_t bit(Class const counted) { return std::uint32_t { 1 } << counted; }

// Every comparison with the present uses the one `now`.
std::uint32_t assignment_classes(corvella::TrainingAssignment const& assignment, quenmark::Timestamp now)
{
    std::uint32_t classes = 0;
    switch (assignment.status) {
    case corvella::AssignmentStatus::Assigned:
        classes = bit(Assigned);
        break;
    case corvella::AssignmentStatus::InProgress:
        classes = bit(InProgress);
        break;
    case corvella::AssignmentStatus::Completed:
        classes = bit(Completed);
        break;
    case corvella::AssignmentStatus::Cancelled:
        classes = bit(Cancelled);
        break;
    }
    if (corvella::is_overdue(assignment, now))
        classes |= bit(Overdue);
    return classes;
}

std::uint32_t certificate_classes(corvella::Certificate const& certificate, quenmark::Timestamp now)
{
    switch (corvella::held_standing(certificate, now)) {
    case corvella::Standing::Valid:
    case corvella::Standing::NotYetValid:
        return bit(Valid);
    case corvella::Standing::Expired:
        return bit(Expired);
    case corvella::Standing::Revoked:
        return bit(Revoked);
    }
    __builtin_unreachable();
}

std::uint32_t assessment_classes(corvella::AssessmentDefinition const& assessment)
{
    switch (assessment.status) {
    case corvella::AssessmentStatus::Published:
        return bit(Published);
    case corvella::AssessmentStatus::Draft:
        return bit(Draft);
    case corvella::AssessmentStatus::Retired:
        return bit(Retired);
    }
    __builtin_unreachable();
}

// The counts of a store read with the classifiers above: no record kept,
// each only counted.
Readiness count(Store const& store)
{
    Readiness counts;
    auto const& tally = store.tally;
    counts.published = tally[Published];
    counts.draft = tally[Draft];
    counts.retired = tally[Retired];
    counts.assigned = tally[Assigned];
    counts.in_progress = tally[InProgress];
    counts.completed = tally[Completed];
    counts.cancelled = tally[Cancelled];
    counts.overdue = tally[Overdue];
    counts.completions = store.not_kept.completions;
    counts.valid = tally[Valid];
    counts.expired = tally[Expired];
    counts.revoked = tally[Revoked];
    return counts;
}

CommandResult<void> run_report_readiness(CommandContext const& context)
{
    // Of the records only how many there are, of each class.
    auto const now = quenmark::Timestamp::now();
    StoreUse use { .assessments = false,
                   .questions = false,
                   .assignments = false,
                   .attempts = false,
                   .completions = false,
                   .certificates = false };
    use.classify_assessment = assessment_classes;
    use.classify_assignment = [now](auto const& assignment) { return assignment_classes(assignment, now); };
    use.classify_certificate = [now](auto const& certificate) { return certificate_classes(certificate, now); };
    auto const store = TRY(load_store_with_progress(context.state_path, use));
    auto const counts = count(store);

    // The revoked count is shown only when there is one, so that a state
    // without revocations prints the lines it always printed.
    std::string text = concat("Assessments   : ", counts.published, " published, ", counts.draft, " draft, ",
                              counts.retired, " retired\nAssignments   : ", counts.assigned, " assigned, ",
                              counts.in_progress, " in progress, ", counts.completed, " completed, ", counts.cancelled,
                              " cancelled (", counts.overdue, " overdue)\nCompletions   : ", counts.completions,
                              "\nCertificates  : ", counts.valid, " valid, ", counts.expired, " expired");
    if (counts.revoked > 0)
        append_parts(text, ", ", counts.revoked, " revoked");
    text.push_back('\n');
    Results results(context.format);
    results.add(text, "readiness", [&counts](JsonObject& object) {
        object
            .object("assessments",
                    [&](JsonObject& assessments) {
                        assessments.number("published", counts.published)
                            .number("draft", counts.draft)
                            .number("retired", counts.retired);
                    })
            .object("assignments",
                    [&](JsonObject& assignments) {
                        assignments.number("assigned", counts.assigned)
                            .number("in_progress", counts.in_progress)
                            .number("completed", counts.completed)
                            .number("cancelled", counts.cancelled)
                            .number("overdue", counts.overdue);
                    })
            .number("completions", counts.completions)
            .object("certificates", [&](JsonObject& certificates) {
                certificates.number("valid", counts.valid)
                    .number("expired", counts.expired)
                    .number("revoked", counts.revoked);
            });
    });
    return print(results);
}

// A column of a list report: its CSV and JSON name (the table heading is the
// name in capitals, with spaces for underscores), and whether its values are
// numbers, which the table aligns right and JSON writes unquoted.
struct Column {
    std::string_view name;
    bool number { false };
};

// A row's cells in column order, as text; an empty cell is a value the row
// does not have (null in JSON, "-" in the table).
using Row = std::vector<std::string>;

// A row of the cells given, moved in: a braced list would copy each one.
template<typename... Cells>
Row row_of(Cells&&... cells)
{
    Row row;
    row.reserve(sizeof...(Cells));
    (row.emplace_back(std::forward<Cells>(cells)), ...);
    return row;
}

// Days as a signed number, as a cell writes them.
struct SignedDays {
    std::int64_t days;
};

// Appends a value as its cell shows it: an identifier, an instant, a text,
// an unsigned number or signed days; nothing for an absent value.
template<typename Value>
void append_cell(std::string& out, Value const& value)
{
    if constexpr (std::is_same_v<Value, SignedDays>)
        quenmark::append_decimal(out, value.days);
    else
        append_parts(out, value);
}

template<typename Value>
void append_cell(std::string& out, std::optional<Value> const& value)
{
    if (value)
        append_cell(out, *value);
}

// Sets the row's cells to the values in place: each cell is written over the
// one before it, so rows made one after another take no fresh memory.
template<typename... Values>
void set_row(Row& row, Values const&... values)
{
    row.resize(sizeof...(Values));
    std::size_t index = 0;
    ((row[index].clear(), append_cell(row[index], values), ++index), ...);
}

// A report's rows as print_rows() takes them: `fill(index, row)` sets `row`
// to the cells of row `index`, for each index below `count`, as often as
// the printing needs them.
struct RowSource {
    std::size_t count { 0 };
    quenmark::json::FunctionRef<void(std::size_t, Row&)> fill;
};

// A cell from an identifier, an instant, a text or an unsigned number.
template<typename Value>
std::string cell(Value const& value)
{
    return concat(value);
}

template<typename Value>
std::string cell(std::optional<Value> const& value)
{
    return value ? cell(*value) : std::string();
}

// numerator ÷ denominator with `places` decimals, rounded half up; empty
// when the denominator is 0.
std::string ratio_cell(std::uint64_t numerator, std::uint64_t denominator, unsigned places)
{
    if (denominator == 0)
        return {};
    std::uint64_t scale = 1;
    for (unsigned place = 0; place < places; ++place)
        scale *= 10;
    std::uint64_t const scaled = (numerator * scale * 2 + denominator) / (denominator * 2);
    std::string out = concat(scaled / scale);
    if (places > 0) {
        std::string fraction = concat(scaled % scale);
        out.append(1, '.').append(places - fraction.size(), '0').append(fraction);
    }
    return out;
}

// Characters as a terminal shows them, near enough: UTF-8 lead bytes.
std::size_t display_width(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
    }));
}

std::string heading(std::string_view name)
{
    std::string out(name);
    for (char& c : out) {
        if (c == '_')
            c = ' ';
        else if ('a' <= c && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// A cell as the table shows it.
std::string_view shown(std::string const& value) { return value.empty() ? std::string_view("-") : value; }

// Output is printed a piece of whole lines at a time from one small buffer,
// so that a long list is not laid out in fresh memory.
constexpr std::size_t piece_bytes = std::size_t { 64 } << 10U;

// Prints `out` when it holds a piece or more, and empties it.
CommandResult<void> print_piece(std::string& out)
{
    if (out.size() < piece_bytes)
        return {};
    TRY(print(out));
    out.clear();
    return {};
}

// Prints the rows as a table under a heading line, each column as wide as
// its widest cell: the rows are made once to measure them and once to print.
CommandResult<void> print_aligned_table(std::span<Column const> columns, RowSource rows)
{
    Row headings;
    std::vector<std::size_t> widths;
    for (auto const& column : columns) {
        headings.push_back(heading(column.name));
        widths.push_back(display_width(headings.back()));
    }
    Row row;
    for (std::size_t at = 0; at < rows.count; ++at) {
        rows.fill(at, row);
        for (std::size_t index = 0; index < columns.size(); ++index)
            widths[index] = std::max(widths[index], display_width(shown(row[index])));
    }
    std::string out;
    out.reserve(piece_bytes);
    auto const write = [&](Row const& cells) {
        for (std::size_t index = 0; index < columns.size(); ++index) {
            std::string_view const value = shown(cells[index]);
            std::size_t const padding = widths[index] - display_width(value);
            if (index > 0)
                out.append("  ");
            if (columns[index].number)
                out.append(padding, ' ').append(value);
            else
                out.append(value).append(index + 1 == columns.size() ? 0 : padding, ' ');
        }
        out.push_back('\n');
    };
    write(headings);
    for (std::size_t at = 0; at < rows.count; ++at) {
        TRY(print_piece(out));
        rows.fill(at, row);
        write(row);
    }
    return print(out);
}

// How a list report prints: the table, --csv, or the global --json.
struct ListFormat {
    OutputFormat output { OutputFormat::Text };
    bool csv { false };
};

// Prints the rows: as JSON Lines, one `type` object per row; as CSV under a
// header row; or as an aligned table under a heading line, or the line
// `nothing` when there are no rows.
CommandResult<void> print_rows(ListFormat format, std::string_view type, std::span<Column const> columns,
                               RowSource rows, std::string_view nothing)
{
    Row row;
    if (format.output == OutputFormat::JsonLines) {
        Results results(format.output);
        for (std::size_t at = 0; at < rows.count; ++at) {
            rows.fill(at, row);
            results.add({}, type, [&](JsonObject& object) {
                for (std::size_t index = 0; index < columns.size(); ++index) {
                    auto const& [name, number] = columns[index];
                    if (row[index].empty())
                        object.null(name);
                    else if (number)
                        object.raw(name, row[index]);
                    else
                        object.text(name, row[index]);
                }
            });
        }
        return print(results);
    }
    if (format.csv) {
        std::string out;
        std::vector<std::string> header;
        for (auto const& column : columns)
            header.emplace_back(column.name);
        append_csv_row(out, header);
        for (std::size_t at = 0; at < rows.count; ++at) {
            TRY(print_piece(out));
            rows.fill(at, row);
            append_csv_row(out, row);
        }
        return print(out);
    }
    if (rows.count == 0)
        return print(concat(nothing, '\n'));
    return print_aligned_table(columns, rows);
}

// The same for rows already made.
CommandResult<void> print_rows(ListFormat format, std::string_view type, std::span<Column const> columns,
                               std::span<Row const> rows, std::string_view nothing)
{
    return print_rows(format, type, columns,
                      { rows.size(), [rows](std::size_t at, Row& row) { row = rows[at]; } }, nothing);
}

// The records a report joins its rows to, found by identifier: the
// assessments among the store's titles (StoreUse::titles), the completion
// records among their links (StoreUse::completion_links). The report names
// each identifier it will look up, then one pass over each finds the first
// with each, as a scan in stored order does. A report joins to a few of
// many records, so this touches far less memory than an index of them all
// would.
class Joins {
public:
    explicit Joins(Store const& store) : m_store(store) { }

    void need(corvella::AssessmentId const& id) { m_assessments.try_emplace(id, not_found); }
    void need(corvella::CompletionRecordId const& id) { m_completions.try_emplace(id, not_found); }

    // Finds the records named so far.
    void resolve()
    {
        auto const& titles = m_store.titles;
        resolve_list(m_assessments, titles.size(), [&](std::size_t at) { return titles.id(at); });
        auto const& links = m_store.completion_links;
        resolve_list(m_completions, links.size(), [&](std::size_t at) { return links[at].id; });
    }

    // The assessment's position among the titles and answer keys; none
    // when no assessment has the identifier.
    std::optional<std::size_t> assessment(corvella::AssessmentId const& id) const { return position(m_assessments, id); }

    // The assessment's title; empty for one not stored.
    std::string_view title(corvella::AssessmentId const& id) const
    {
        auto const at = assessment(id);
        return at ? m_store.titles.title(*at) : std::string_view();
    }

    // The completion record's link; none when no record has the identifier.
    CompletionLink const* completion(corvella::CompletionRecordId const& id) const
    {
        auto const at = position(m_completions, id);
        return at ? &m_store.completion_links[*at] : nullptr;
    }

private:
    static constexpr std::size_t not_found = SIZE_MAX;

    template<typename Map, typename IdAt>
    static void resolve_list(Map& wanted, std::size_t size, IdAt const& id_at)
    {
        std::size_t left = wanted.size();
        for (std::size_t at = 0; at < size && left > 0; ++at) {
            auto const found = wanted.find(id_at(at));
            if (found != wanted.end() && found->second == not_found) {
                found->second = at;
                --left;
            }
        }
    }

    template<typename Map, typename Id>
    static std::optional<std::size_t> position(Map const& wanted, Id const& id)
    {
        auto const found = wanted.find(id);
        if (found == wanted.end() || found->second == not_found)
            return std::nullopt;
        return found->second;
    }

    Store const& m_store;
    std::unordered_map<corvella::AssessmentId, std::size_t> m_assessments;
    std::unordered_map<corvella::CompletionRecordId, std::size_t> m_completions;
};

CommandResult<quenmark::Timestamp> instant_or_now(std::optional<std::string> const& at)
{
    if (!at)
        return quenmark::Timestamp::now();
    return TRY(quenmark::Timestamp::parse(*at));
}

// The options every list report has: --csv, and --at where time matters.
class ListReport : public Command {
public:
    // `use` names what of the state the report looks at.
    ListReport(bool timed, StoreUse use) : m_timed(timed), m_use(use) { }

    void declare(Declaration& declaration) override
    {
        if (m_timed)
            declaration.text("--at", m_at,
                             { .value_name = "AT", .help = "RFC 3339 instant to report as of. Defaults to now" });
        declaration.flag("--csv", m_csv, "Write CSV (RFC 4180) under a header row instead of a table");
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        if (m_csv && context.format == OutputFormat::JsonLines)
            return quenmark::unexpected(CommandError::message("--csv and --json cannot be combined"));
        // An instant that does not parse is refused after the state is
        // read, as always.
        auto const instant = instant_or_now(m_at);
        auto store = TRY(load_store_with_progress(context.state_path, use(instant ? &*instant : nullptr)));
        auto const at = TRY(instant);
        return report(store, at, { context.format, m_csv });
    }

protected:
    // What of the state the report looks at as of `at`, when that is known.
    [[nodiscard]] virtual StoreUse use(quenmark::Timestamp const* /*at*/) const { return m_use; }
    // Builds and prints the report of the store as of `at`.
    [[nodiscard]] virtual CommandResult<void> report(Store& store, quenmark::Timestamp at, ListFormat format) = 0;

private:
    bool m_timed;
    StoreUse m_use;
    bool m_csv { false };
    std::optional<std::string> m_at;
};

class ReportOverdue final : public ListReport {
public:
    // The assignments, and the assessments' titles.
    ReportOverdue()
        : ListReport(/*timed=*/true, { .assessments = false,
                                       .attempts = false,
                                       .completions = false,
                                       .certificates = false,
                                       .titles = true })
    {
    }

protected:
    // Of the assignments only those overdue, which keep their order.
    StoreUse use(quenmark::Timestamp const* at) const override
    {
        auto use = ListReport::use(at);
        if (at != nullptr)
            use.pick_assignment = [at = *at](auto const& assignment) { return corvella::is_overdue(assignment, at); };
        return use;
    }

    CommandResult<void> report(Store& store, quenmark::Timestamp at, ListFormat format) override
    {
        static constexpr Column columns[] = {
            { "assignment_id" }, { "principal_id" }, { "tenant_id" }, { "workspace_id" },
            { "assessment_id" }, { "title" },        { "due_at" },    { "days_overdue", true },
        };
        auto const overdue = corvella::overdue_assignments(store.assignments, at);
        Joins joins(store);
        for (auto const& [position, days] : overdue)
            joins.need(store.assignments[position].assessment_id);
        joins.resolve();
        auto const fill = [&](std::size_t at_row, Row& row) {
            auto const& [position, days] = overdue[at_row];
            auto const& assignment = store.assignments[position];
            set_row(row, assignment.id, assignment.principal_id, assignment.tenant_id, assignment.workspace_id,
                    assignment.assessment_id, joins.title(assignment.assessment_id), assignment.due_at,
                    SignedDays { days });
        };
        return print_rows(format, "report_overdue", columns, RowSource { overdue.size(), fill },
                          concat("no overdue assignments as of ", at));
    }
};

class ReportExpiring final : public ListReport {
public:
    // The certificates, and the assessments' titles.
    ReportExpiring()
        : ListReport(/*timed=*/true, { .assessments = false,
                                       .assignments = false,
                                       .attempts = false,
                                       .completions = false,
                                       .titles = true })
    {
    }

    void declare(Declaration& declaration) override
    {
        declaration.integer("--within-days", m_within_days,
                            { .value_name = "DAYS",
                              .help = "List valid certificates that expire within this many days",
                              .default_value = "30" });
        ListReport::declare(declaration);
    }

protected:
    // Of the certificates that are valid and expire after the window only
    // the holdings, which show what is renewed.
    StoreUse use(quenmark::Timestamp const* at) const override
    {
        auto use = ListReport::use(at);
        if (at != nullptr) {
            use.pick_certificate = [at = *at, within_days = m_within_days](auto const& certificate) {
                return !corvella::only_renews(certificate, at, within_days);
            };
        }
        return use;
    }

    CommandResult<void> report(Store& store, quenmark::Timestamp at, ListFormat format) override
    {
        static constexpr Column columns[] = {
            { "certificate_id" }, { "principal_id" }, { "assessment_id" },
            { "title" },          { "expires_at" },   { "days_left", true },
        };
        auto const expiring = corvella::expiring_certificates(store.certificates, at, m_within_days, store.holdings);
        Joins joins(store);
        for (auto const& [position, days] : expiring)
            joins.need(store.certificates[position].payload.assessment_id);
        joins.resolve();
        auto const fill = [&](std::size_t at_row, Row& row) {
            auto const& [position, days] = expiring[at_row];
            auto const& payload = store.certificates[position].payload;
            set_row(row, payload.certificate_id, payload.principal_id, payload.assessment_id,
                    joins.title(payload.assessment_id), payload.expires_at, SignedDays { days });
        };
        return print_rows(format, "report_expiring", columns, RowSource { expiring.size(), fill },
                          concat("no certificates expire within ", m_within_days, " days or await renewal as of ", at));
    }

private:
    std::uint32_t m_within_days { 30 };
};

class ReportLearner final : public ListReport {
public:
    // Every kind of record, and the questions to score the attempts (not
    // their texts).
    ReportLearner() : ListReport(/*timed=*/true, {}) { }

protected:
    // The principal's records; of the assessments, the titles and the
    // answer keys to score the attempts; of every completion record the
    // link a certificate's is looked up among. An identifier that does not parse is refused after
    // the state is read, as always (the whole state is then kept).
    StoreUse use(quenmark::Timestamp const* /*at*/) const override
    {
        StoreUse use {};
        if (auto principal = corvella::IdentityId::parse(m_principal_id)) {
            use.principal = *principal;
            use.assessments = false;
            use.titles = true;
            use.answer_keys = true;
            use.completion_links = true;
        }
        return use;
    }

public:

    void declare(Declaration& declaration) override
    {
        declaration.text("--principal-id", m_principal_id, { .value_name = "PRINCIPAL_ID", .required = true });
        ListReport::declare(declaration);
    }

protected:
    CommandResult<void> report(Store& store, quenmark::Timestamp at, ListFormat format) override
    {
        static constexpr Column columns[] = {
            { "record" },        { "id" },          { "assignment_id" },   { "assessment_id" }, { "title" },
            { "status" },        { "attempt_number", true }, { "score", true }, { "questions", true },
            { "score_band" },    { "due_at" },      { "at" },              { "expires_at" },
        };
        auto const principal = TRY(corvella::IdentityId::parse(m_principal_id));
        auto const entries = corvella::transcript(
            { store.assignments, store.attempts, store.completions, store.certificates }, principal);
        if (entries.empty())
            return quenmark::unexpected(CommandError::not_found(concat("principal ", principal)));
        Joins joins(store);
        for (auto const& [kind, position] : entries) {
            switch (kind) {
            case corvella::RecordKind::Assignment:
                joins.need(store.assignments[position].assessment_id);
                break;
            case corvella::RecordKind::Attempt:
                joins.need(store.attempts[position].assessment_id);
                break;
            case corvella::RecordKind::Completion:
                joins.need(store.completions[position].assessment_id);
                break;
            case corvella::RecordKind::Certificate:
                joins.need(store.certificates[position].payload.assessment_id);
                joins.need(store.certificates[position].payload.completion_record_id);
                break;
            }
        }
        joins.resolve();
        std::vector<Row> rows;
        rows.reserve(entries.size());
        auto const add = [&](Line line) {
            rows.push_back(row_of(std::string(line.record), std::move(line.id), std::move(line.assignment_id),
                                  cell(line.assessment_id), joins.title(line.assessment_id), std::string(line.status),
                                  std::move(line.attempt_number), std::move(line.score), std::move(line.questions),
                                  std::string(line.score_band), std::move(line.due_at), std::move(line.at),
                                  std::move(line.expires_at)));
        };
        for (auto const& [kind, position] : entries) {
            switch (kind) {
            case corvella::RecordKind::Assignment: {
                auto const& assignment = store.assignments[position];
                add({ .record = "assignment",
                      .id = cell(assignment.id),
                      .assignment_id = cell(assignment.id),
                      .assessment_id = assignment.assessment_id,
                      .status = corvella::stored_name(assignment.status),
                      .due_at = cell(assignment.due_at),
                      .at = cell(assignment.created_at) });
                break;
            }
            case corvella::RecordKind::Attempt: {
                auto const& attempt = store.attempts[position];
                Line line { .record = "attempt",
                            .id = cell(attempt.id),
                            .assignment_id = cell(attempt.assignment_id),
                            .assessment_id = attempt.assessment_id,
                            .status = corvella::stored_name(attempt.status),
                            .attempt_number = cell(std::uint64_t { attempt.attempt_number }),
                            .score_band = corvella::stored_name(attempt.score_band),
                            .at = cell(attempt.completed_at) };
                if (auto const assessment = joins.assessment(attempt.assessment_id)) {
                    auto const& key = store.answer_keys[*assessment];
                    if (auto const score = corvella::correct_answers(key, attempt)) {
                        line.score = cell(*score);
                        line.questions = cell(std::uint64_t { key.size() });
                    }
                }
                add(std::move(line));
                break;
            }
            case corvella::RecordKind::Completion: {
                auto const& completion = store.completions[position];
                add({ .record = "completion",
                      .id = cell(completion.id),
                      .assignment_id = cell(completion.assignment_id),
                      .assessment_id = completion.assessment_id,
                      .score_band = corvella::stored_name(completion.score_band),
                      .at = cell(completion.completed_at) });
                break;
            }
            case corvella::RecordKind::Certificate: {
                auto const& certificate = store.certificates[position];
                auto const& payload = certificate.payload;
                auto const* completion = joins.completion(payload.completion_record_id);
                add({ .record = "certificate",
                      .id = cell(payload.certificate_id),
                      .assignment_id = completion ? cell(completion->assignment_id) : std::string(),
                      .assessment_id = payload.assessment_id,
                      .status = corvella::stored_name(corvella::held_standing(certificate, at)),
                      .score_band = corvella::stored_name(payload.score_band),
                      .at = cell(payload.issued_at),
                      .expires_at = cell(payload.expires_at) });
                break;
            }
            }
        }
        return print_rows(format, "report_learner", columns, rows, {});
    }

private:
    // A transcript row by its columns; the title is the assessment's.
    struct Line {
        std::string_view record;
        std::string id;
        std::string assignment_id;
        corvella::AssessmentId assessment_id;
        std::string_view status {};
        std::string attempt_number {};
        std::string score {};
        std::string questions {};
        std::string_view score_band {};
        std::string due_at {};
        std::string at {};
        std::string expires_at {};
    };

    std::string m_principal_id;
};

class ReportAssessment final : public ListReport {
public:
    ReportAssessment() : ListReport(/*timed=*/false, {}) { }

    void declare(Declaration& declaration) override
    {
        declaration.text("--assessment-id", m_assessment_id, { .value_name = "ASSESSMENT_ID", .required = true });
        ListReport::declare(declaration);
    }

protected:
    // The assessment, its assignments and its attempts. An identifier that
    // does not parse is refused after the state is read, as always.
    StoreUse use(quenmark::Timestamp const* /*at*/) const override
    {
        StoreUse use { .completions = false, .certificates = false };
        if (auto assessment = corvella::AssessmentId::parse(m_assessment_id))
            use.assessment = *assessment;
        return use;
    }

    CommandResult<void> report(Store& store, quenmark::Timestamp, ListFormat format) override
    {
        static constexpr Column columns[] = {
            { "measure" }, { "question", true }, { "value", true }, { "count", true },
            { "total", true }, { "percent", true }, { "text" },
        };
        auto const id = TRY(corvella::AssessmentId::parse(m_assessment_id));
        auto const* assessment = TRY(find(std::as_const(store), id));
        auto const statistics = corvella::assessment_statistics(*assessment, store.assignments, store.attempts);

        std::vector<Row> rows;
        auto const add = [&rows](std::string_view measure, std::string question, std::string value,
                                 std::uint64_t count, std::uint64_t total, std::string text = {}) {
            rows.push_back({ std::string(measure), std::move(question), std::move(value), cell(count), cell(total),
                             ratio_cell(count * 100, total, 1), std::move(text) });
        };
        std::uint64_t assignments = 0;
        for (auto const count : statistics.assignments)
            assignments += count;
        for (std::size_t status = 0; status < statistics.assignments.size(); ++status)
            add(corvella::assignment_status_names[status], {}, {}, statistics.assignments[status], assignments);
        add("passed", {}, {}, statistics.passed, statistics.attempts);
        add("failed", {}, {}, statistics.attempts - statistics.passed, statistics.attempts);
        // The mean is the row's value; its count and total are what it divides.
        rows.push_back({ "attempts_to_pass", {}, ratio_cell(statistics.attempts_to_pass, statistics.passed, 2),
                         cell(statistics.attempts_to_pass), cell(statistics.passed), {}, {} });
        for (std::size_t score = 0; score < statistics.scores.size(); ++score)
            add("score", {}, cell(std::uint64_t { score }), statistics.scores[score], statistics.scored);
        for (std::size_t index = 0; index < statistics.questions.size(); ++index) {
            auto const& question = statistics.questions[index];
            auto const& asked = assessment->questions[index];
            std::string const number = cell(std::uint64_t { index + 1 });
            add("correct", number, {}, question.correct, statistics.scored, asked.prompt);
            add("wrong_choice", number, cell(question.wrong_choice), question.wrong_choice_count, statistics.scored,
                question.wrong_choice ? asked.choices[*question.wrong_choice] : std::string());
        }
        return print_rows(format, "report_assessment", columns, rows, {});
    }

private:
    std::string m_assessment_id;
};

} // namespace

std::unique_ptr<Command> make_report_readiness() { return std::make_unique<PlainCommand<run_report_readiness>>(); }
std::unique_ptr<Command> make_report_overdue() { return std::make_unique<ReportOverdue>(); }
std::unique_ptr<Command> make_report_expiring() { return std::make_unique<ReportExpiring>(); }
std::unique_ptr<Command> make_report_learner() { return std::make_unique<ReportLearner>(); }
std::unique_ptr<Command> make_report_assessment() { return std::make_unique<ReportAssessment>(); }

} // namespace corvellactl

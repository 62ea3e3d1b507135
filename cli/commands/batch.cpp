// The batch commands: assign, attempt and certify for many learners at once,
// from a CSV file. Each row is checked and applied as the single command
// would, in memory and in row order, every row seeing the rows before it;
// then everything is stored in one commit, and only then are the single
// commands' result lines printed, in row order. If any row is refused,
// nothing is stored.

#include "command.h"
#include "commands/learner_changes.h"
#include "csv_rows.h"
#include "output.h"
#include "progress.h"
#include "store/chain_file.h"
#include "store/commit.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/key_file.h"
#include "store/records.h"

#include "corvella/ids/ids.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

// The rows of a batch file under their header.
struct Table {
    std::string source; // how messages name the file
    std::vector<std::string> header;
    // The file's text, whose rows are read again one at a time when they are
    // applied, so that a file of many rows is never held as rows at once;
    // or, with no text, the rows themselves.
    std::string text;
    std::vector<CsvRow> rows;

    // Calls `apply` with each row under the header, in order.
    template<typename Apply>
    void for_each_row(Apply const& apply) const
    {
        if (text.empty()) {
            for (auto const& row : rows)
                apply(row);
            return;
        }
        bool header_row = true;
        // The text was read whole once already, so it reads again alike.
        static_cast<void>(for_each_csv_row(text, [&](CsvRow&& row) {
            if (!std::exchange(header_row, false))
                apply(row);
        }));
    }

    // The row's field in the named column; none when the file has no such column.
    std::optional<std::string_view> cell(CsvRow const& row, std::string_view column) const
    {
        auto const found = std::find(header.begin(), header.end(), column);
        if (found == header.end())
            return std::nullopt;
        return row.fields[static_cast<std::size_t>(found - header.begin())];
    }
};

// Standard input, read to its end, for the file name "-".
CommandResult<std::string> read_standard_input()
{
    std::string text;
    char buffer[65536];
    while (std::size_t const count = std::fread(buffer, 1, sizeof buffer, stdin))
        text.append(buffer, count);
    if (std::ferror(stdin) != 0)
        return quenmark::unexpected(CommandError::io(EIO));
    if (!quenmark::is_valid_utf8(text))
        return quenmark::unexpected(CommandError::io("stream did not contain valid UTF-8"));
    return text;
}

std::string joined(std::span<std::string_view const> names)
{
    std::string out;
    for (auto const name : names)
        out.append(out.empty() ? "" : ", ").append(name);
    return out;
}

// Reads a batch file ("-" for standard input) and checks its header: every
// column one of `columns`, none twice, each of `required` present. A row
// whose number of fields is not the header's is kept: it is refused with the
// other rows' refusals.
CommandResult<Table> read_table(std::string const& file, std::span<std::string_view const> columns,
                                std::span<std::string_view const> required)
{
    Table table { file == "-" ? "(standard input)" : file, {}, {}, {} };
    table.text = file == "-" ? TRY(read_standard_input()) : TRY(read_text(file));
    // The whole text is checked first; only the header row is kept.
    std::optional<CsvRow> header;
    auto const read = for_each_csv_row(table.text, [&header](CsvRow&& row) {
        if (!header)
            header = std::move(row);
    });
    if (!read)
        return quenmark::unexpected(CommandError::message(
            concat(table.source, ':', std::uint64_t { read.error().line }, ": not CSV: ", read.error().reason)));
    auto const header_fault = [&](std::string reason) {
        std::uint64_t const line = header ? header->line : 1;
        return quenmark::unexpected(CommandError::message(concat(table.source, ':', line, ": ", reason)));
    };
    if (!header)
        return header_fault("no header row; the columns are " + joined(columns));
    table.header = std::move(header->fields);
    for (std::size_t index = 0; index < table.header.size(); ++index) {
        auto const& name = table.header[index];
        if (std::find(columns.begin(), columns.end(), name) == columns.end())
            return header_fault("unknown column " + quenmark::quoted(name) + "; the columns are " + joined(columns));
        if (std::find(table.header.begin(), table.header.begin() + static_cast<std::ptrdiff_t>(index), name)
            != table.header.begin() + static_cast<std::ptrdiff_t>(index))
            return header_fault("column " + quenmark::quoted(name) + " appears twice");
    }
    for (auto const name : required) {
        if (std::find(table.header.begin(), table.header.end(), name) == table.header.end())
            return header_fault("missing column " + quenmark::quoted(name));
    }
    return table;
}

// What a batch gathers from its rows before anything is written.
class Batch {
public:
    // A batch that may store its rows reads the chain while they are taken.
    Batch(CommandContext const& context, std::string source, bool dry_run)
        : m_context(context)
        , m_source(std::move(source))
        , m_results(context.format)
        , m_chain(context.audit_path)
    {
        if (!dry_run)
            m_chain.read_ahead();
    }

    Results& results() { return m_results; }

    // Applies one row: `apply` returns its events, or the error that refuses it.
    template<typename Apply>
    void row(std::size_t line, Apply const& apply)
    {
        ++m_rows;
        auto events = apply();
        if (!events) {
            append_parts(m_refusals, m_source, ':', std::uint64_t { line }, ": ", events.error().text(), '\n');
            ++m_refused;
            // Printed as they gather, so that many refusals take no memory.
            constexpr std::size_t refusals_held = std::size_t { 64 } << 10U;
            if (m_refusals.size() >= refusals_held)
                flush_refusals();
            return;
        }
        for (auto& event : *events)
            m_events.push_back(std::move(event));
    }

    // Refuses the batch when a row was refused; otherwise, unless it is a dry
    // run, appends every event with the key, stores the chain and the state
    // at once, and prints the results.
    CommandResult<void> finish(Store&& store, bool dry_run, std::optional<quenmark::SigningKey> const& key)
    {
        if (m_refused > 0) {
            flush_refusals();
            if (m_refusals_unprinted)
                return quenmark::unexpected(*m_refusals_unprinted);
            return quenmark::unexpected(CommandError::message(
                concat(m_refused, " of ", m_rows, " rows refused; nothing was stored")));
        }
        if (dry_run) {
            Results summary(m_context.format);
            summary.add(concat("dry run: all ", m_rows, " rows accepted; nothing was stored\n"), "dry_run",
                        [this](JsonObject& object) { object.number("rows", m_rows); });
            return print(summary);
        }
        // An empty batch changes nothing, not even by creating the key.
        if (m_rows == 0)
            return {};
        auto const loaded = key ? std::optional<quenmark::SigningKey>() : TRY(load_or_create_key(m_context.key_path));
        auto const& signing_key = key ? *key : *loaded;
        TRY(commit_chain_and_store(
            m_chain, [&] { return m_chain.append_all(signing_key, std::move(m_events)); }, m_context.state_path,
            std::move(store)));
        return print_after_commit(m_results);
    }

private:
    // Prints the refusals gathered so far; the first failure is kept for the end.
    void flush_refusals()
    {
        auto printed = print_to_stderr(m_refusals);
        if (!printed && !m_refusals_unprinted)
            m_refusals_unprinted = std::move(printed).error();
        m_refusals.clear();
    }

    CommandContext const& m_context;
    std::string m_source;
    Results m_results;
    ChainAppender m_chain;
    std::vector<quenmark::AuditEvent> m_events;
    std::string m_refusals;
    std::optional<CommandError> m_refusals_unprinted;
    std::uint64_t m_rows { 0 };
    std::uint64_t m_refused { 0 };
};

using Events = CommandResult<std::vector<quenmark::AuditEvent>>;

// The options every batch command has.
void declare_common(Declaration& declaration, bool& dry_run)
{
    declaration.flag("--dry-run", dry_run, "Check every row and report as a run would, but store nothing");
}

constexpr std::string_view file_help = "CSV file with a header row (RFC 4180), or - for standard input";

// A whole number of days, as --due-in-days takes it: decimal digits after
// an optional sign.
std::optional<std::int64_t> parse_days(std::string_view text)
{
    if (text.starts_with('+') && !text.starts_with("+-"))
        text.remove_prefix(1);
    std::int64_t value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

class BatchAssign final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("FILE", m_file, { .value_name = "FILE", .help = file_help, .required = true });
        declaration.text("--assessment-id", m_assessment_id, { .value_name = "ASSESSMENT_ID", .required = true });
        declaration.choice("--reason", m_reason, reason_names(),
                           { .value_name = "REASON", .help = "For rows without a reason",
                             .default_value = reason_names()[0] });
        declaration.integer("--due-in-days", m_due_in_days,
                            { .value_name = "DUE_IN_DAYS", .help = "For rows without a due_in_days" });
        declare_common(declaration, m_dry_run);
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        static constexpr std::string_view columns[] = {
            "principal_id", "tenant_id", "workspace_id", "due_in_days", "reason",
        };
        auto const table = TRY(read_table(m_file, columns, {}));
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        auto const assessment_id = TRY(corvella::AssessmentId::parse(m_assessment_id));
        auto const* assessment = TRY(find(store, assessment_id));
        TRY(corvella::check_assignable(*assessment));
        auto const now = quenmark::Timestamp::now();

        Records records(store);
        records.use_index();
        Batch batch(context, table.source, m_dry_run);
        // An empty cell mints an identifier, as the word new does.
        auto const identifier = [&table](CsvRow const& row, std::string_view column) {
            auto const text = table.cell(row, column).value_or("");
            return text.empty() ? std::string_view("new") : text;
        };
        table.for_each_row([&](CsvRow const& row) {
            batch.row(row.line, [&]() -> Events {
                TRY(check_width(table, row));
                AssignRequest request {
                    .tenant_id = identifier(row, "tenant_id"),
                    .workspace_id = identifier(row, "workspace_id"),
                    .principal_id = identifier(row, "principal_id"),
                    .reason = static_cast<corvella::AssignmentReason>(m_reason),
                    .due_in_days = m_due_in_days,
                };
                if (auto const reason = table.cell(row, "reason"); reason && !reason->empty()) {
                    auto const names = reason_names();
                    auto const found = std::find(names.begin(), names.end(), *reason);
                    if (found == names.end())
                        return quenmark::unexpected(CommandError::message(
                            concat("reason must be one of ", joined(names), ", not ", quenmark::quoted(*reason))));
                    request.reason = static_cast<corvella::AssignmentReason>(found - names.begin());
                }
                if (auto const days = table.cell(row, "due_in_days"); days && !days->empty()) {
                    request.due_in_days = parse_days(*days);
                    if (!request.due_in_days)
                        return quenmark::unexpected(CommandError::message(
                            "due_in_days must be a whole number of days, not " + quenmark::quoted(*days)));
                }
                auto assignment = TRY(new_assignment(*assessment, request, now));
                announce(batch.results(), assignment);
                std::vector<quenmark::AuditEvent> events { assignment_event(assignment) };
                records.add(std::move(assignment));
                return events;
            });
        });
        return batch.finish(std::move(store), m_dry_run, std::nullopt);
    }

    // A row with another number of fields than the header.
    static CommandResult<void> check_width(Table const& table, CsvRow const& row);

private:
    std::string m_file;
    std::string m_assessment_id;
    std::size_t m_reason { 0 };
    std::optional<std::int64_t> m_due_in_days;
    bool m_dry_run { false };
};

CommandResult<void> BatchAssign::check_width(Table const& table, CsvRow const& row)
{
    if (row.fields.size() == table.header.size())
        return {};
    return quenmark::unexpected(CommandError::message(concat("the row has ", std::uint64_t { row.fields.size() },
                                                             " fields, the header ",
                                                             std::uint64_t { table.header.size() })));
}

class BatchAttempt final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("FILE", m_file, { .value_name = "FILE", .help = file_help, .required = true });
        declare_common(declaration, m_dry_run);
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        static constexpr std::string_view columns[] = { "assignment_id", "answers" };
        auto const table = TRY(read_table(m_file, columns, columns));
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        auto const now = quenmark::Timestamp::now();

        Records records(store);
        records.use_index();
        Batch batch(context, table.source, m_dry_run);
        table.for_each_row([&](CsvRow const& row) {
            batch.row(row.line, [&]() -> Events {
                TRY(BatchAssign::check_width(table, row));
                auto submission
                    = TRY(new_submission(records, *table.cell(row, "assignment_id"), *table.cell(row, "answers"), now));
                announce(batch.results(), submission);
                auto events = submission_events(submission);
                record(records, std::move(submission));
                return events;
            });
        });
        return batch.finish(std::move(store), m_dry_run, std::nullopt);
    }

private:
    std::string m_file;
    bool m_dry_run { false };
};

class BatchCertify final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("FILE", m_file, { .value_name = "FILE", .help = file_help });
        declaration.flag("--pending", m_pending, "Certify every completion record that has no certificate yet");
        declaration.integer("--validity-days", m_validity_days, { .value_name = "VALIDITY_DAYS", .default_value = "365" });
        declare_common(declaration, m_dry_run);
    }

    CommandResult<void> run(CommandContext const& context) override
    {
        if (m_file.has_value() == m_pending)
            return quenmark::unexpected(CommandError::message("give either FILE or --pending, not both or neither"));
        static constexpr std::string_view columns[] = { "completion_id" };
        std::optional<Table> table;
        if (m_file)
            table = TRY(read_table(*m_file, columns, columns));
        auto const lock = TRY(lock_data_files(context));
        auto store = TRY(load_store_with_progress(context.state_path));
        if (!table)
            table = pending(store);
        // Every certificate is signed as it is issued, so the key comes first;
        // a dry run that finds no key checks with a key of its own.
        std::optional<quenmark::SigningKey> key;
        if (!m_dry_run || path_exists(context.key_path))
            key.emplace(TRY(load_or_create_key(context.key_path)));
        else
            key.emplace(quenmark::SigningKey::generate());
        auto const now = quenmark::Timestamp::now();

        Records records(store);
        records.use_index();
        Batch batch(context, table->source, m_dry_run);
        // The certificates are signed together once every row is taken, on
        // every core; nothing a row checks or announces depends on the
        // signature.
        std::vector<std::size_t> issued;
        std::vector<std::string> signed_bytes;
        table->for_each_row([&](CsvRow const& row) {
            batch.row(row.line, [&]() -> Events {
                TRY(BatchAssign::check_width(*table, row));
                auto const source = TRY(certification_source(records, *table->cell(row, "completion_id")));
                auto [certificate, bytes] = TRY(new_unsigned_certificate(source, m_validity_days, now));
                announce(batch.results(), certificate);
                std::vector<quenmark::AuditEvent> events { certificate_event(certificate) };
                issued.push_back(store.certificates.size());
                signed_bytes.push_back(std::move(bytes));
                records.add(std::move(certificate));
                return events;
            });
        });
        if (!m_dry_run) {
            auto const signatures = key->sign_all(signed_bytes);
            for (std::size_t index = 0; index < issued.size(); ++index)
                store.certificates[issued[index]].signature = signatures[index];
        }
        return batch.finish(std::move(store), m_dry_run, key);
    }

private:
    // The completion records that no certificate names, in stored order, as
    // the rows of a table; a row's line is its record's position in the list.
    static Table pending(Store const& store)
    {
        std::unordered_set<corvella::CompletionRecordId> certified;
        for (auto const& certificate : store.certificates)
            certified.insert(certificate.payload.completion_record_id);
        Table table { "completion records", { "completion_id" }, {}, {} };
        for (std::size_t index = 0; index < store.completions.size(); ++index) {
            auto const& record = store.completions[index];
            if (!certified.contains(record.id))
                table.rows.push_back({ index + 1, { record.id.to_string() } });
        }
        return table;
    }

    std::optional<std::string> m_file;
    bool m_pending { false };
    std::int64_t m_validity_days { 365 };
    bool m_dry_run { false };
};

} // namespace

std::unique_ptr<Command> make_batch_assign() { return std::make_unique<BatchAssign>(); }
std::unique_ptr<Command> make_batch_attempt() { return std::make_unique<BatchAttempt>(); }
std::unique_ptr<Command> make_batch_certify() { return std::make_unique<BatchCertify>(); }

} // namespace corvellactl

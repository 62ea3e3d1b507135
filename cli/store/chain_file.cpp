#include "store/chain_file.h"

#include "store/stream.h"
#include "store/system_calls.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/json/value.h"
#include "quenmark/json/read.h"

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <span>
#include <string_view>
#include <utility>

namespace corvellactl {

// The chain as the appender keeps it: the file text of its entries without
// the closing bracket, with the writer that has the array open and goes on
// with it, and the last entry, to which the next one links.
struct ChainAppender::Chain {
    std::string text;
    quenmark::json::PrettyWriter writer { text };
    std::optional<quenmark::SignedAuditEvent> last;
};

namespace {

// How the file text of an array that holds elements ends.
constexpr std::string_view closing_bracket = "\n]";

} // namespace

// Reads the chain file into the appender's form. Each entry is read and at
// once written again in the file form, so the text is exactly what writing
// the whole parsed list gives: members unknown to the event model are
// dropped, as every rewrite of the file drops them. Errors as append().
CommandResult<std::unique_ptr<ChainAppender::Chain>> ChainAppender::read_chain(std::string const& path)
{
    auto chain = std::make_unique<Chain>();
    chain->writer.begin_array();
    if (!path_exists(path))
        return chain;
    auto const file = TRY(read_json_text(path));
    // Room for the file's own form and the entries this command appends.
    constexpr std::size_t room_for_new_entries = std::size_t { 64 } << 10U;
    chain->text.reserve(file.size() + room_for_new_entries);

    quenmark::SignedAuditEvent entry;
    bool has_entries = false;
    auto const read = quenmark::json::read_padded_document(file.data(), file.size(),
        [&](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
            return root.array([&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
                entry = quenmark::SignedAuditEvent {};
                TRY(quenmark::read_json(element, entry));
                quenmark::write_json(chain->writer, entry);
                has_entries = true;
                return {};
            });
        });
    if (!read)
        return quenmark::unexpected(refused_json_text(file, read.error()));
    if (has_entries)
        chain->last = std::move(entry);
    return chain;
}

ChainAppender::ChainAppender(std::string path)
    : m_path(std::move(path))
{
}

ChainAppender::ChainAppender(ChainAppender&&) noexcept = default;
ChainAppender& ChainAppender::operator=(ChainAppender&&) noexcept = default;
ChainAppender::~ChainAppender() = default;

CommandResult<void> ChainAppender::append(quenmark::SigningKey const& key, quenmark::AuditEvent event)
{
    std::vector<quenmark::AuditEvent> events;
    events.push_back(std::move(event));
    return append_all(key, std::move(events));
}

CommandResult<void> ChainAppender::append_all(quenmark::SigningKey const& key, std::vector<quenmark::AuditEvent> events)
{
    if (!m_chain)
        m_chain = TRY(read_chain(m_path));
    if (events.empty())
        return {};
    Chain& chain = *m_chain;
    std::span<quenmark::SignedAuditEvent const> last;
    if (chain.last)
        last = std::span(&*chain.last, 1);
    auto const head = quenmark::derive_head(last);
    if (!head)
        return quenmark::unexpected(CommandError::message("could not hash last audit event: " + head.error().text()));
    auto entries = quenmark::link_events(*head, key, std::move(events));
    if (!entries)
        return quenmark::unexpected(CommandError::message("could not sign audit event: " + entries.error().text()));
    for (auto const& entry : *entries)
        quenmark::write_json(chain.writer, entry);
    chain.last = std::move(entries->back());
    return {};
}

CommandResult<FileReplacement> ChainAppender::prepare()
{
    if (!m_chain)
        m_chain = TRY(read_chain(m_path));
    auto file = TRY(FileReplacement::begin(m_path));
    TRY(file.write(m_chain->text));
    // An array that holds elements ends on a line of its own.
    TRY(file.write(m_chain->last ? closing_bracket : std::string_view("]")));
    TRY(file.finish());
    return file;
}

CommandResult<void> ChainAppender::save()
{
    auto file = TRY(prepare());
    return install_together(std::span(&file, 1));
}

CommandResult<VerifiedChain> verify_chain_file(std::string const& path, quenmark::VerifyingKey const& key,
                                               quenmark::ChainQuery const& query, Progress* progress)
{
    if (!path_exists(path))
        return VerifiedChain {};
    auto const file = TRY(read_json_text(path, progress));
    quenmark::ReadProgress report;
    if (progress != nullptr)
        report = [progress](std::size_t entries, std::size_t offset) { progress->advanced(entries, offset); };
    auto check = quenmark::read_and_verify_padded_chain(file.data(), file.size(), key, query, report);
    if (progress != nullptr)
        progress->finished();
    if (!check)
        return quenmark::unexpected(refused_json_text(file, std::move(check).error()));
    if (!check->verified)
        return quenmark::unexpected(
            CommandError::message("audit chain verification failed: " + check->verified.error().text()));
    return VerifiedChain { static_cast<std::uint64_t>(check->entries), check->last, check->marked,
                           std::move(check->leaves), std::move(check->found) };
}

namespace {

// The chain file as written: its entries on lines of their own, indented by
// two blanks.
constexpr RecordLayout chain_layout { .start = "\n  ", .separator = ",\n  {", .end = "\n]" };

// Reads the entries of a root array, handing each after the first `skipped`
// to `visit` and counting them in `visited`.
quenmark::json::Read<void> read_entries(quenmark::json::ValueReader& root,
                                        std::function<void(quenmark::SignedAuditEvent&&)> const& visit,
                                        std::size_t skipped, std::size_t& visited)
{
    std::size_t seen = 0;
    return root.array([&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
        quenmark::SignedAuditEvent entry;
        TRY(quenmark::read_json(element, entry));
        if (seen++ >= skipped) {
            visit(std::move(entry));
            ++visited;
        }
        return {};
    });
}

// Streams a big chain file laid out as written, handing its entries to
// `visit`; false, with `visited` telling how many it was handed, when the
// file is laid out otherwise or does not read. The entries handed are the
// array's first, and a whole reading reads them the same.
bool stream_chain_entries(std::string const& path, std::function<void(quenmark::SignedAuditEvent&&)> const& visit,
                          std::size_t& visited)
{
    constexpr std::size_t smallest_streamed_file = std::size_t { 8 } << 20U;
    constexpr std::size_t buffer_bytes = std::size_t { 1 } << 20U;
    Descriptor file(open_file(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file.is_open() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || static_cast<std::size_t>(status.st_size) < smallest_streamed_file)
        return false;
    Source const source(file.get(), buffer_bytes);
    Stream stream(source, 0, static_cast<std::size_t>(status.st_size));
    return stream.take_literal("[")
        && stream_records(stream, chain_layout, /*starts_inside=*/false, /*ends_inside=*/false,
                          [&](RecordRun const& run) {
                              return quenmark::json::read_padded_document(
                                         run.text, run.size,
                                         [&](quenmark::json::ValueReader& root) {
                                             return read_entries(root, visit, /*skipped=*/0, visited);
                                         })
                                  .has_value();
                          })
        && stream.at_end();
}

} // namespace

CommandResult<void> read_chain_entries(std::string const& path,
                                       std::function<void(quenmark::SignedAuditEvent&&)> const& visit)
{
    if (!path_exists(path))
        return {};
    std::size_t streamed = 0;
    if (stream_chain_entries(path, visit, streamed))
        return {};
    // Read whole, which says what is wrong; the entries already handed over
    // are not handed again.
    auto const file = TRY(read_json_text(path));
    std::size_t visited = 0;
    auto const read = quenmark::json::read_padded_document(
        file.data(), file.size(),
        [&](quenmark::json::ValueReader& root) { return read_entries(root, visit, streamed, visited); });
    if (!read)
        return quenmark::unexpected(refused_json_text(file, read.error()));
    return {};
}

CommandResult<std::vector<quenmark::SignedAuditEvent>> load_verified_chain(std::string const& path,
                                                                          quenmark::VerifyingKey const& key)
{
    std::vector<quenmark::SignedAuditEvent> entries;
    TRY(read_chain_entries(path, [&entries](quenmark::SignedAuditEvent&& entry) { entries.push_back(std::move(entry)); }));
    if (auto const verified = quenmark::verify_chain(entries, key); !verified)
        return quenmark::unexpected(CommandError::message("audit chain verification failed: " + verified.error().text()));
    return entries;
}

} // namespace corvellactl

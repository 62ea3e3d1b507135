#include "store/chain_file.h"

#include "store/stream.h"
#include "store/system_calls.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/json/value.h"
#include "quenmark/json/read.h"

#include <algorithm>
#include <atomic>
#include <latch>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <sched.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <span>
#include <string_view>
#include <utility>

namespace corvellactl {

// The chain as the appender keeps it: the file text of its entries without
// the closing bracket, with the writer that has the array open and goes on
// with it, and the last entry, to which the next one links. While the
// file's own bytes are exactly what writing its entries again gives, which
// is what this program writes, they stand for that text: the first
// `verbatim` bytes of `file` come before `text`, and are written from the
// file as read instead of from a copy.
struct ChainAppender::Chain {
    std::string text;
    quenmark::json::PrettyWriter writer { text };
    std::optional<quenmark::SignedAuditEvent> last;
    PaddedText file;
    std::size_t verbatim { 0 };
    bool same { true };

    // Takes what was written since into the file's bytes when they are the
    // same; otherwise the text is made whole from here on.
    void hold()
    {
        if (!same)
            return;
        if (file.view().substr(verbatim, text.size()) == text) {
            verbatim += text.size();
            text.clear();
            return;
        }
        give_up();
    }

    void give_up()
    {
        if (!same)
            return;
        same = false;
        // Room for the file's own form and the entries this command appends.
        constexpr std::size_t room_for_new_entries = std::size_t { 64 } << 10U;
        std::string whole;
        whole.reserve(file.size() + room_for_new_entries);
        whole.append(file.view().substr(0, verbatim));
        whole.append(text);
        text.swap(whole);
        verbatim = 0;
    }
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
    if (!path_exists(path)) {
        chain->give_up();
        return chain;
    }
    chain->file = TRY(read_json_text(path));
    PaddedText const& file = chain->file;
    chain->hold();

    quenmark::SignedAuditEvent entry;
    bool has_entries = false;
    auto const read = quenmark::json::read_padded_elements(file.data(), file.size(),
        [&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
            entry = quenmark::SignedAuditEvent {};
            TRY(quenmark::read_json(element, entry));
            quenmark::write_json(chain->writer, entry);
            chain->hold();
            has_entries = true;
            return {};
        });
    if (!read)
        return quenmark::unexpected(refused_json_text(file, read.error()));
    // A chain made whole needs the file no more. While it is not, what
    // follows the entries is never copied: the writer closes the array.
    if (!chain->same)
        chain->file = PaddedText();
    if (has_entries)
        chain->last = std::move(entry);
    return chain;
}

// A chain read ahead: the thread, and what it read once it is joined.
struct ChainAppender::ReadAhead {
    std::optional<CommandResult<std::unique_ptr<Chain>>> read;
    std::thread thread;

    ReadAhead() = default;
    ReadAhead(ReadAhead const&) = delete;
    ReadAhead& operator=(ReadAhead const&) = delete;
    ~ReadAhead()
    {
        if (thread.joinable())
            thread.join();
    }
};

namespace {

// A chain file smaller than this is read when it is needed: ahead of time
// it would save little.
constexpr std::size_t smallest_chain_read_ahead = std::size_t { 1 } << 20U;

} // namespace

ChainAppender::ChainAppender(std::string path)
    : m_path(std::move(path))
{
}

void ChainAppender::read_ahead()
{
    struct stat status {};
    if (m_chain || m_ahead || ::stat(m_path.c_str(), &status) != 0
        || static_cast<std::size_t>(status.st_size) < smallest_chain_read_ahead)
        return;
    auto ahead = std::make_unique<ReadAhead>();
    try {
        ahead->thread = std::thread([reading = ahead.get(), path = m_path] { reading->read.emplace(read_chain(path)); });
    } catch (std::system_error const&) {
        // Read when it is needed.
        return;
    }
    m_ahead = std::move(ahead);
}

CommandResult<void> ChainAppender::have_chain()
{
    if (m_chain)
        return {};
    if (!m_ahead) {
        m_chain = TRY(read_chain(m_path));
        return {};
    }
    m_ahead->thread.join();
    auto read = std::move(*m_ahead->read);
    m_ahead.reset();
    m_chain = TRY(std::move(read));
    return {};
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
    TRY(have_chain());
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
    TRY(have_chain());
    auto file = TRY(FileReplacement::begin(m_path));
    if (m_chain->verbatim > 0) {
        // Written from the file as read: a mapped file that another program
        // cut meanwhile can no longer be, which is said as a reading would.
        if (auto const written = file.write(m_chain->file.view().substr(0, m_chain->verbatim)); !written) {
            struct stat status {};
            if (::stat(m_path.c_str(), &status) != 0 || static_cast<std::size_t>(status.st_size) != m_chain->file.size())
                return quenmark::unexpected(CommandError::io(m_path + " changed while it was read"));
            return quenmark::unexpected(written.error());
        }
    }
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

// Reads the entries of the stream's region, handing each to `visit` and
// counting them in `visited`, as stream_records() runs them; false when the
// region is laid out otherwise or does not read to its end.
bool stream_entries(Stream& stream, bool starts_inside, bool ends_inside,
                    std::function<void(quenmark::SignedAuditEvent&&)> const& visit, std::size_t& visited)
{
    return stream_records(stream, chain_layout, starts_inside, ends_inside,
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
        && stream_entries(stream, /*starts_inside=*/false, /*ends_inside=*/false, visit, visited);
}

// Where the pieces of a chain file that a search reads apart begin: the
// file's start, then the first entry separator from each further equal part
// of it on. Fewer pieces when entries are longer than a part.
std::vector<std::size_t> piece_starts(Source const& source, std::size_t size, std::size_t pieces)
{
    std::vector<std::size_t> starts { 0 };
    std::string_view const separator = chain_layout.separator;
    for (std::size_t piece = 1; piece < pieces; ++piece) {
        Stream stream(source, std::max(size / pieces * piece, starts.back() + 1), size);
        std::optional<std::size_t> found;
        while (!found && stream.more()) {
            auto const window = stream.window();
            find_marked_lines(window, separator.back(), separator.size() - 2, separator.back(), separator.size() - 2,
                              [&](std::size_t line_feed) {
                                  if (line_feed > 0 && window.substr(line_feed - 1).starts_with(separator))
                                      found = stream.offset() + line_feed - 1;
                                  return !found;
                              });
            // A separator cut by the window's end is looked at again with the rest.
            stream.take(window.size() - std::min(window.size(), separator.size()));
        }
        if (!found)
            break;
        starts.push_back(*found);
    }
    return starts;
}

// The entries that `keep` accepts of the piece from `begin` to `end` of a
// chain laid out as written, in order; none when the piece is laid out
// otherwise or does not read.
std::optional<std::vector<quenmark::SignedAuditEvent>>
search_piece(Source const& source, std::size_t begin, std::size_t end, bool last,
             quenmark::json::FunctionRef<bool(quenmark::SignedAuditEvent const&)> keep)
{
    Stream stream(source, begin, end);
    bool const first = begin == 0;
    if (!stream.take_literal(first ? std::string_view("[") : chain_layout.separator.substr(0, 4)))
        return std::nullopt;
    std::vector<quenmark::SignedAuditEvent> found;
    std::size_t visited = 0;
    auto const visit = [&](quenmark::SignedAuditEvent&& entry) {
        if (keep(entry))
            found.push_back(std::move(entry));
    };
    if (!stream_entries(stream, /*starts_inside=*/!first, /*ends_inside=*/!last, visit, visited))
        return std::nullopt;
    return found;
}

// Leaves the calling thread only the time no other work of the machine
// wants: a search that runs beside the reading of the state then takes a
// core only as that reading leaves one free. Nothing changes when the
// system refuses.
void yield_to_other_work()
{
    sched_param const parameters {};
    (void)::sched_setscheduler(::gettid(), SCHED_IDLE, &parameters);
}

} // namespace

// What the threads of a search share: the file and its pieces, the next
// piece to take, and what each piece gave.
struct ChainSearch::Shared {
    std::string path;
    std::function<bool(quenmark::SignedAuditEvent const&)> keep;
    // Set up by the first thread; `ready` is counted down once it is.
    Descriptor file;
    std::optional<Source> source;
    std::vector<std::size_t> starts;
    std::latch ready { 1 };
    std::atomic<std::size_t> next { 0 };
    std::vector<std::optional<std::vector<quenmark::SignedAuditEvent>>> found;
    // Of a chain not searched in pieces: the whole reading's result.
    std::optional<CommandResult<std::vector<quenmark::SignedAuditEvent>>> whole;

    std::size_t pieces() const { return found.size(); }

    // Searches pieces until none is left to take.
    void search()
    {
        for (std::size_t piece = next++; piece < pieces(); piece = next++)
            found[piece] = search_piece(*source, starts[piece], starts[piece + 1], piece + 1 == pieces(), keep);
    }

    // The entries as read_chain_entries() reads them, with its errors.
    CommandResult<std::vector<quenmark::SignedAuditEvent>> read_whole() const
    {
        std::vector<quenmark::SignedAuditEvent> entries;
        TRY(read_chain_entries(path, [&](quenmark::SignedAuditEvent&& entry) {
            if (keep(entry))
                entries.push_back(std::move(entry));
        }));
        return entries;
    }
};

ChainSearch::ChainSearch(std::string path, std::function<bool(quenmark::SignedAuditEvent const&)> keep)
    : m_shared(std::make_unique<Shared>())
{
    m_shared->path = std::move(path);
    m_shared->keep = std::move(keep);
    m_first = std::thread([this] {
        Shared& shared = *m_shared;
        constexpr std::size_t smallest_searched_in_pieces = std::size_t { 8 } << 20U;
        // Pieces small enough that a thread the machine leaves no time holds
        // up little: the caller searches every piece not yet taken.
        constexpr std::size_t pieces = 64;
        constexpr std::size_t buffer_bytes = std::size_t { 1 } << 20U;
        shared.file = Descriptor(open_file(shared.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (!shared.file.is_open() || ::fstat(shared.file.get(), &status) != 0 || !S_ISREG(status.st_mode)
            || static_cast<std::size_t>(status.st_size) < smallest_searched_in_pieces) {
            // A small chain is read at once, as the caller would.
            shared.whole = shared.read_whole();
            shared.ready.count_down();
            return;
        }
        auto const size = static_cast<std::size_t>(status.st_size);
        shared.source.emplace(shared.file.get(), buffer_bytes);
        shared.starts = piece_starts(Source(shared.file.get(), std::size_t { 64 } << 10U), size, pieces);
        shared.starts.push_back(size);
        shared.found.resize(shared.starts.size() - 1);
        shared.ready.count_down();
        // Only once the caller could search without it.
        yield_to_other_work();
        try {
            m_second = std::thread([&shared] {
                yield_to_other_work();
                shared.search();
            });
        } catch (std::system_error const&) {
            // The pieces are searched without a second thread.
        }
        shared.search();
    });
}

ChainSearch::~ChainSearch() { finish(); }

void ChainSearch::finish()
{
    if (!m_first.joinable())
        return;
    m_shared->ready.wait();
    if (!m_shared->whole)
        m_shared->search();
    m_first.join();
    // The second thread is started by the first, so it is known only now.
    if (m_second.joinable())
        m_second.join();
}

CommandResult<std::vector<quenmark::SignedAuditEvent>> ChainSearch::result()
{
    Shared& shared = *m_shared;
    finish();
    if (shared.whole)
        return std::move(*shared.whole);
    if (std::all_of(shared.found.begin(), shared.found.end(), [](auto const& piece) { return piece.has_value(); })) {
        std::vector<quenmark::SignedAuditEvent> entries;
        for (auto& piece : shared.found)
            std::move(piece->begin(), piece->end(), std::back_inserter(entries));
        return entries;
    }
    // Read as a whole, which says what is wrong with a chain that does not read.
    return shared.read_whole();
}

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

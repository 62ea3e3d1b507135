#include "quenmark/integrity/audit_chain.h"

#include "quenmark/json/read.h"
#include "quenmark/text/text.h"

#include "integrity/parallel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <span>
#include <utility>

namespace quenmark {

namespace {

// Entries whose signatures one thread checks per piece of work: enough that
// handing out a piece costs nothing beside its checks, few enough that the
// threads finish close together and that reading hands out work early.
constexpr std::size_t seal_block_size = 64;

// Chains of at most this many entries are checked on the calling thread
// alone: starting threads would cost more than the checks they share.
constexpr std::size_t parallel_threshold = 2 * seal_block_size;

// About the size of one entry of this system in the chain file's pretty form.
constexpr std::size_t typical_entry_size = 1024;

std::uint64_t next_sequence(std::uint64_t sequence)
{
    return sequence == std::numeric_limits<std::uint64_t>::max() ? sequence : sequence + 1;
}

ContractError broken_link(std::uint64_t sequence)
{
    std::string message = "audit chain broken at sequence ";
    append_decimal(message, sequence);
    message.append(": previous-hash link does not match the preceding event");
    return ContractError::validation_failed(std::move(message));
}

ContractError sequence_gap(std::uint64_t expected, std::uint64_t found)
{
    std::string message = "audit chain sequence gap: expected ";
    append_decimal(message, expected);
    message.append(", found ");
    append_decimal(message, found);
    return ContractError::validation_failed(std::move(message));
}

// What one entry proves on its own: whether its signature holds over its
// event's canonical bytes, and, when it does, the content hash of those bytes,
// which the next entry must link to.
struct Seal {
    ContentHash hash;
    bool signature_holds { false };
    MerkleHash leaf {};
};

// `buffer` is scratch space, reused so that sealing allocates nothing.
Seal seal_of(SignedAuditEvent const& entry, VerifyingKey const& key, std::string& buffer)
{
    buffer.clear();
    append_canonical_bytes(entry.event, buffer);
    Seal seal;
    seal.signature_holds = verify_bytes(key, buffer, entry.signature);
    if (seal.signature_holds)
        seal.hash = ContentHash::of_bytes(buffer);
    return seal;
}

// The seal of the entry at `position` as a reading asks for it: an entry
// the caller trusts has only its leaf hash computed, and its content hash
// when the next entry links to it; the others are sealed as seal_of() does,
// with their leaf hash when asked for.
Seal seal_at(SignedAuditEvent const& entry, std::size_t position, VerifyingKey const& key, ChainQuery const& query,
             std::string& buffer)
{
    Seal seal;
    if (position < query.leaves) {
        buffer.clear();
        append_leaf_bytes(entry, buffer);
        seal.leaf = leaf_hash(buffer);
    }
    if (position >= query.trusted) {
        MerkleHash const leaf = seal.leaf;
        seal = seal_of(entry, key, buffer);
        seal.leaf = leaf;
        return seal;
    }
    seal.signature_holds = true;
    if (position + 1 == query.trusted) {
        buffer.clear();
        append_canonical_bytes(entry.event, buffer);
        seal.hash = ContentHash::of_bytes(buffer);
    }
    return seal;
}

// The in-order part of verification: links and sequence numbers, given each
// entry's seal. The first entry may carry any sequence number but no link.
class ChainWalk {
public:
    // Goes on after an entry that is trusted without a check, as if it had
    // just been stepped over.
    void resume_after(std::uint64_t sequence, ContentHash const& hash)
    {
        m_previous = hash;
        m_expected = next_sequence(sequence);
    }

    [[nodiscard]] Expected<void, ContractError> step(std::uint64_t sequence, std::optional<ContentHash> const& link,
                                                     Seal const& seal)
    {
        if (!seal.signature_holds)
            return unexpected(ContractError::signature_verification());
        if (!m_previous) {
            if (link)
                return unexpected(broken_link(sequence));
            m_expected = next_sequence(sequence);
        } else {
            if (!link || *link != *m_previous)
                return unexpected(broken_link(sequence));
            if (sequence != m_expected)
                return unexpected(sequence_gap(m_expected, sequence));
            m_expected = next_sequence(m_expected);
        }
        m_previous = seal.hash;
        return {};
    }

    [[nodiscard]] Expected<void, ContractError> step(SignedAuditEvent const& entry, Seal const& seal)
    {
        return step(entry.sequence, entry.event.previous_event_hash, seal);
    }

private:
    std::optional<ContentHash> m_previous;
    std::uint64_t m_expected { 0 };
};

// The lowest chain position at which a signature is known to fail, shared by
// the threads that seal a chain. The walk stops there at the latest, so the
// entries after it need no sealing.
class FirstFailure {
public:
    bool needs(std::size_t position) const { return position <= m_position.load(std::memory_order_relaxed); }

    void record(std::size_t position)
    {
        std::size_t current = m_position.load(std::memory_order_relaxed);
        while (position < current && !m_position.compare_exchange_weak(current, position, std::memory_order_relaxed)) {
        }
    }

private:
    std::atomic<std::size_t> m_position { std::numeric_limits<std::size_t>::max() };
};

// Consecutive entries of a chain, from position `first`, and the slots their
// seals go to. Each piece is sealed by one thread, and no two pieces share a
// slot; the walk reads the slots only after every sealing thread has ended.
struct SealPiece {
    std::span<SignedAuditEvent const> entries;
    std::span<Seal> seals;
    std::size_t first { 0 };
};

using SealQueue = detail::WorkQueue<SealPiece>;

// Seals pieces from the queue until it is closed and empty. Every entry at or
// before the first failure is sealed; entries after it may be skipped.
void seal_pieces(SealQueue& queue, VerifyingKey const& key, FirstFailure& failure)
{
    std::string buffer;
    buffer.reserve(typical_entry_size);
    while (auto const piece = queue.pop()) {
        for (std::size_t index = 0; index < piece->entries.size(); ++index) {
            std::size_t const position = piece->first + index;
            if (!failure.needs(position))
                break;
            piece->seals[index] = seal_of(piece->entries[index], key, buffer);
            if (!piece->seals[index].signature_holds)
                failure.record(position);
        }
    }
}

std::size_t blocks_for(std::size_t entries) { return (entries + seal_block_size - 1) / seal_block_size; }

Expected<void, ContractError> verify_serially(std::span<SignedAuditEvent const> entries, VerifyingKey const& key)
{
    std::string buffer;
    buffer.reserve(typical_entry_size);
    ChainWalk walk;
    for (SignedAuditEvent const& entry : entries)
        TRY(walk.step(entry, seal_of(entry, key, buffer)));
    return {};
}

// What the in-order walk needs of one entry once it is sealed.
struct Link {
    std::uint64_t sequence { 0 };
    std::optional<ContentHash> previous;
    Seal seal;
};

using LinkPage = std::array<Link, seal_block_size>;

// Up to seal_block_size consecutive entries of a chain being read, from
// position `first`, and the page their links go to. Blocks are recycled once
// sealed, and reading an entry resets it while keeping the room its strings
// have, so a long chain is read into the same few entries over and over.
struct ReadBlock {
    std::vector<SignedAuditEvent> entries;
    std::size_t size { 0 }; // entries in use, from the first
    LinkPage* links { nullptr };
    std::size_t first { 0 };
};

using ReadQueue = detail::WorkQueue<ReadBlock*>;

// Seals one block and records each entry's link. Every entry at or before the
// first failure is sealed; entries after it may be skipped.
void seal_block(ReadBlock const& block, VerifyingKey const& key, ChainQuery const& query, FirstFailure& failure,
                std::string& buffer)
{
    for (std::size_t index = 0; index < block.size; ++index) {
        std::size_t const position = block.first + index;
        if (!failure.needs(position))
            break;
        SignedAuditEvent const& entry = block.entries[index];
        Link& link = (*block.links)[index];
        link.sequence = entry.sequence;
        link.previous = entry.event.previous_event_hash;
        link.seal = seal_at(entry, position, key, query, buffer);
        if (!link.seal.signature_holds)
            failure.record(position);
    }
}

// The in-order walk over the sealed entries of a reading, `link_at` giving
// each one's link, and what the query asked for once they verify.
template<typename LinkAt>
ChainCheck finish_check(std::size_t count, LinkAt const& link_at, ChainQuery const& query,
                        std::optional<FoundEntry> found)
{
    ChainCheck check;
    check.entries = count;
    ChainWalk walk;
    for (std::size_t position = 0; position < count; ++position) {
        Link const& link = link_at(position);
        if (position < query.trusted) {
            if (position + 1 == query.trusted)
                walk.resume_after(link.sequence, link.seal.hash);
            continue;
        }
        check.verified = walk.step(link.sequence, link.previous, link.seal);
        if (!check.verified)
            return check;
    }
    // Content hashes were computed from the last trusted entry on.
    auto const mark_at = [&](std::size_t position) -> std::optional<EntryMark> {
        if (position >= count || position + 1 < query.trusted)
            return std::nullopt;
        Link const& link = link_at(position);
        return EntryMark { link.sequence, link.seal.hash };
    };
    if (count > 0)
        check.last = mark_at(count - 1);
    if (query.marked_position)
        check.marked = mark_at(*query.marked_position);
    std::size_t const leaves = std::min(query.leaves, count);
    check.leaves.reserve(leaves);
    for (std::size_t position = 0; position < leaves; ++position)
        check.leaves.push_back(link_at(position).seal.leaf);
    check.found = std::move(found);
    return check;
}

// Reads the entries of a chain file's text of `size` bytes through
// `read_elements` (which takes the reading function of each, as
// json::read_padded_elements does) while the other threads seal the entries
// already read.
template<typename ReadElements>
Expected<ChainCheck, std::string> read_and_verify_overlapped(std::size_t size, VerifyingKey const& key,
                                                             ChainQuery const& query, ReadProgress const& progress,
                                                             ReadElements read_elements)
{
    // The calling thread reads and hands out each block as soon as it is
    // full. The other threads seal blocks meanwhile; when the blocks waiting
    // outnumber what they can take, the caller seals the oldest itself
    // before reading on. Few blocks are therefore ever alive, however long
    // the chain, and sealed blocks come back through `spare` to be filled
    // again. The caller joins the sealing once reading ends.
    ensure_sodium();
    std::size_t const extra_threads = detail::extra_threads_for(blocks_for(size / typical_entry_size));
    std::size_t const most_waiting = 4 * (extra_threads + 1);
    std::vector<std::unique_ptr<ReadBlock>> blocks;
    std::vector<std::unique_ptr<LinkPage>> pages;
    pages.reserve(blocks_for(size / typical_entry_size) + 1);
    ReadQueue queue;
    ReadQueue spare;
    FirstFailure failure;
    std::string buffer;
    buffer.reserve(typical_entry_size);
    // Seals the blocks `next` takes from the queue until it gives none.
    auto const seal_while = [&](std::string& scratch, auto const& next) {
        while (auto const block = next()) {
            seal_block(**block, key, query, failure, scratch);
            spare.push(*block);
        }
    };

    ReadBlock* current = nullptr;
    std::size_t count = 0;
    std::optional<FoundEntry> found;
    Expected<void, std::string> read;
    {
        detail::WorkerThreads const workers(extra_threads, [&] {
            std::string scratch;
            scratch.reserve(typical_entry_size);
            seal_while(scratch, [&] { return queue.pop(); });
        });
        // An entry that fails to read is not counted, so that it can be read again.
        read = read_elements([&](json::ValueReader& element) -> json::Read<void> {
            if (current == nullptr) {
                if (auto const recycled = spare.try_pop()) {
                    current = *recycled;
                } else {
                    blocks.push_back(std::make_unique<ReadBlock>());
                    current = blocks.back().get();
                    current->entries.reserve(seal_block_size);
                }
                current->size = 0;
                current->first = count;
                pages.push_back(std::make_unique<LinkPage>());
                current->links = pages.back().get();
            }
            if (current->size == current->entries.size())
                current->entries.emplace_back();
            SignedAuditEvent& entry = current->entries[current->size];
            TRY(read_json(element, entry));
            if (query.wanted_event && !found && entry.event.event_id == *query.wanted_event)
                found = FoundEntry { count, entry };
            ++current->size;
            ++count;
            if (current->size == seal_block_size) {
                queue.push(std::exchange(current, nullptr));
                seal_while(buffer, [&] { return queue.try_pop(most_waiting); });
                if (progress)
                    progress(count, element.offset());
            }
            return {};
        });
        if (read && current != nullptr)
            queue.push(std::exchange(current, nullptr));
        if (!read)
            failure.record(0); // nothing more is worth sealing
        queue.close();
        seal_while(buffer, [&] { return queue.pop(); });
    }
    if (!read)
        return unexpected(std::move(read).error());

    auto const link_at = [&pages](std::size_t position) -> Link const& {
        return (*pages[position / seal_block_size])[position % seal_block_size];
    };
    return finish_check(count, link_at, query, std::move(found));
}

// The check of entries already read, sealed one after another.
ChainCheck check_entries(std::span<SignedAuditEvent const> entries, VerifyingKey const& key, ChainQuery const& query)
{
    std::string buffer;
    buffer.reserve(typical_entry_size);
    std::vector<Link> links;
    links.reserve(entries.size());
    std::optional<FoundEntry> found;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        SignedAuditEvent const& entry = entries[position];
        links.push_back({ entry.sequence, entry.event.previous_event_hash, seal_at(entry, position, key, query, buffer) });
        if (query.wanted_event && !found && entry.event.event_id == *query.wanted_event)
            found = FoundEntry { position, entry };
    }
    return finish_check(entries.size(), [&links](std::size_t position) -> Link const& { return links[position]; },
                        query, std::move(found));
}

} // namespace

Expected<ChainHead, ContractError> derive_head(std::span<SignedAuditEvent const> entries)
{
    if (entries.empty())
        return ChainHead {};
    SignedAuditEvent const& last = entries.back();
    ContentHash const last_hash = TRY(event_content_hash(last.event));
    return ChainHead { last.sequence, last_hash };
}


Expected<std::vector<SignedAuditEvent>, ContractError> link_events(ChainHead const& head, SigningKey const& key,
                                                                  std::vector<AuditEvent> events)
{
    // Each event links to the one before it, so the links are made in
    // order; the signatures, the costly part, depend on nothing but their
    // event's bytes.
    std::vector<SignedAuditEvent> entries(events.size());
    std::vector<std::string> bytes(events.size());
    ChainHead last = head;
    for (std::size_t index = 0; index < events.size(); ++index) {
        events[index].previous_event_hash = last.last_hash;
        bytes[index] = TRY(event_canonical_bytes(events[index]));
        entries[index].sequence = next_sequence(last.last_sequence);
        entries[index].event = std::move(events[index]);
        last = ChainHead { entries[index].sequence, ContentHash::of_bytes(bytes[index]) };
    }
    auto const signatures = key.sign_all(bytes);
    for (std::size_t index = 0; index < entries.size(); ++index)
        entries[index].signature = signatures[index];
    return entries;
}

Expected<SignedAuditEvent, ContractError> link_event(ChainHead const& head, SigningKey const& key, AuditEvent event)
{
    std::vector<AuditEvent> events;
    events.push_back(std::move(event));
    auto entries = TRY(link_events(head, key, std::move(events)));
    return std::move(entries.front());
}

Expected<void, ContractError> verify_chain(std::span<SignedAuditEvent const> entries, VerifyingKey const& key)
{
    if (entries.size() <= parallel_threshold)
        return verify_serially(entries, key);

    ensure_sodium();
    std::vector<Seal> seals(entries.size());
    std::span<Seal> const all_seals(seals);
    SealQueue queue;
    for (std::size_t first = 0; first < entries.size(); first += seal_block_size) {
        std::size_t const count = std::min(seal_block_size, entries.size() - first);
        queue.push(SealPiece { entries.subspan(first, count), all_seals.subspan(first, count), first });
    }
    queue.close();
    FirstFailure failure;
    {
        detail::WorkerThreads const workers(detail::extra_threads_for(blocks_for(entries.size())),
            [&] { seal_pieces(queue, key, failure); });
        seal_pieces(queue, key, failure);
    }

    ChainWalk walk;
    for (std::size_t index = 0; index < entries.size(); ++index)
        TRY(walk.step(entries[index], seals[index]));
    return {};
}

Expected<ChainCheck, std::string> read_and_verify_padded_chain(char const* data, std::size_t size,
                                                                VerifyingKey const& key, ChainQuery const& query,
                                                                ReadProgress const& progress)
{
    if (size <= parallel_threshold * typical_entry_size) {
        auto entries = TRY(parse_chain(std::string_view(data, size)));
        return check_entries(entries, key, query);
    }
    return read_and_verify_overlapped(size, key, query, progress, [&](auto const& each_element) {
        return json::read_padded_elements(data, size, each_element);
    });
}

Expected<std::vector<SignedAuditEvent>, std::string> parse_chain(std::string_view text)
{
    std::vector<SignedAuditEvent> entries;
    entries.reserve(text.size() / typical_entry_size);
    auto read = json::read_document(text, [&](json::ValueReader& root) -> json::Read<void> {
        return root.array([&](json::ValueReader& element) -> json::Read<void> {
            entries.emplace_back();
            return read_json(element, entries.back());
        });
    });
    if (!read)
        return unexpected(std::move(read).error());
    return entries;
}

Expected<SignedAuditEvent, std::string> open_leaf(std::string_view leaf, VerifyingKey const& key)
{
    SignedAuditEvent entry;
    auto const read = json::read_document(leaf, [&](json::ValueReader& root) { return read_json(root, entry); });
    if (!read)
        return unexpected("its entry is not a signed audit event: " + read.error());
    // Only the canonical form is a leaf, so that what is shown of the entry
    // is all that its leaf hash covers.
    std::string bytes;
    append_leaf_bytes(entry, bytes);
    if (bytes != leaf)
        return unexpected(std::string("its entry is not in canonical form"));
    bytes.clear();
    append_canonical_bytes(entry.event, bytes);
    if (!verify_bytes(key, bytes, entry.signature))
        return unexpected(std::string("its entry's signature does not verify"));
    return entry;
}

} // namespace quenmark

#include "quenmark/audit_chain.h"

#include "quenmark/json.h"
#include "quenmark/json_read.h"
#include "quenmark/text.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

namespace quenmark {

namespace {

// Entries whose signatures are checked before their links are walked. The
// signature checks of one block are independent of each other, so they are
// the part that can be spread over threads; the walk stays in order.
constexpr std::size_t verify_block_size = 256;

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

// What one entry proves on its own: its event canonicalises and its signature
// holds. Yields the event's content hash, which the next entry must link to.
Expected<ContentHash, ContractError> seal_of(SignedAuditEvent const& entry, VerifyingKey const& key)
{
    std::string const bytes = TRY(event_canonical_bytes(entry.event));
    if (!verify_bytes(key, bytes, entry.signature))
        return unexpected(ContractError::signature_verification());
    return ContentHash::of_bytes(bytes);
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

Expected<SignedAuditEvent, ContractError> link_event(ChainHead const& head, SigningKey const& key, AuditEvent event)
{
    event.previous_event_hash = head.last_hash;
    std::string const bytes = TRY(event_canonical_bytes(event));
    SignedAuditEvent entry;
    entry.signature = key.sign(bytes);
    entry.sequence = next_sequence(head.last_sequence);
    entry.event = std::move(event);
    return entry;
}

Expected<void, ContractError> verify_chain(std::span<SignedAuditEvent const> entries, VerifyingKey const& key)
{
    // The first entry may carry any sequence number but no link.
    std::optional<ContentHash> previous;
    std::uint64_t expected = 0;

    std::vector<Expected<ContentHash, ContractError>> seals;
    seals.reserve(std::min(entries.size(), verify_block_size));
    for (std::size_t start = 0; start < entries.size(); start += verify_block_size) {
        auto const block = entries.subspan(start, std::min(verify_block_size, entries.size() - start));
        seals.clear();
        for (SignedAuditEvent const& entry : block)
            seals.push_back(seal_of(entry, key));

        for (std::size_t index = 0; index < block.size(); ++index) {
            SignedAuditEvent const& entry = block[index];
            auto& seal = seals[index];
            if (!seal)
                return unexpected(std::move(seal).error());
            auto const& link = entry.event.previous_event_hash;
            if (!previous) {
                if (link)
                    return unexpected(broken_link(entry.sequence));
                expected = next_sequence(entry.sequence);
            } else {
                if (!link || *link != *previous)
                    return unexpected(broken_link(entry.sequence));
                if (entry.sequence != expected)
                    return unexpected(sequence_gap(expected, entry.sequence));
                expected = next_sequence(expected);
            }
            previous = *seal;
        }
    }
    return {};
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

void write_chain(std::span<SignedAuditEvent const> entries, std::string& out)
{
    out.reserve(out.size() + entries.size() * typical_entry_size);
    json::PrettyWriter writer(out);
    writer.begin_array();
    for (SignedAuditEvent const& entry : entries)
        write_json(writer, entry);
    writer.end_array();
}

} // namespace quenmark

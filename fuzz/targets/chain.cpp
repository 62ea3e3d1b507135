// The audit chain file: the JSON checks agree on it (see canonical_json.cpp);
// whatever parse_chain accepts is JSON, is written back in a form that reads
// as the same entries and is written again byte for byte, and each event's
// signed and hashed bytes are those of the one canonicaliser. Verification never fails to answer, and a chain that
// verifies still verifies once an event is appended and the file rewritten.
// Read entry by entry, as the appender and the search of a streamed chain read
// it, a text gives the same entries or the same refusal.
// The key is the one the golden chain was signed with, so its seeds verify.

#include "chain_text.h"
#include "json_checks.h"

#include "corvella/ids/ids.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

quenmark::SigningKey const& golden_key()
{
    static quenmark::SigningKey const key = [] {
        std::array<std::uint8_t, quenmark::seed_size> seed {};
        for (std::size_t index = 0; index < seed.size(); ++index)
            seed[index] = static_cast<std::uint8_t>(7 * index + 3);
        return quenmark::SigningKey::from_seed(seed);
    }();
    return key;
}

// An event as a command appends it, with fixed values instead of fresh ones.
quenmark::AuditEvent appended_event()
{
    quenmark::AuditEvent event;
    event.event_id.bytes.fill(0x5a);
    event.product_id = corvella::product_id();
    event.actor.actor_type = quenmark::ActorType::User;
    event.actor.actor_id = "principal";
    event.target = { .target_type = "training_assignment", .target_id = "assignment" };
    event.action = "training.assignment.created";
    event.result = quenmark::AuditResult::Success;
    event.category = quenmark::AuditCategory::Policy;
    event.occurred_at = quenmark::Timestamp::from_unix_seconds(1'800'000'000);
    return event;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    fuzz::require_agreement(text);
    auto const entries = quenmark::parse_chain(text);
    fuzz::Padded const input(text);
    std::vector<quenmark::SignedAuditEvent> elements;
    auto const by_element = quenmark::json::read_padded_elements(
        input.data(), input.size(), [&](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
            quenmark::SignedAuditEvent entry;
            TRY(quenmark::read_json(element, entry));
            elements.push_back(std::move(entry));
            return {};
        });
    fuzz::require(entries ? by_element.has_value() && elements == *entries
                          : !by_element.has_value() && by_element.error() == entries.error(),
                  "a chain read entry by entry reads as it does whole");
    if (!entries) {
        fuzz::require(fuzz::names_a_position(entries.error(), text), "a refused chain file names a place in it");
        return 0;
    }
    fuzz::require_json(text, "an accepted chain file is JSON");

    std::string written;
    test_support::write_chain(*entries, written);
    auto const reread = quenmark::parse_chain(written);
    fuzz::require(reread.has_value(), "a written chain file reads back");
    fuzz::require(*reread == *entries, "a written chain file reads back as the same entries");
    std::string rewritten;
    test_support::write_chain(*reread, rewritten);
    fuzz::require(rewritten == written, "a chain file read back is written again byte for byte");

    for (auto const& entry : *entries) {
        auto const bytes = quenmark::event_canonical_bytes(entry.event);
        fuzz::require(bytes.has_value(), "every event read has canonical bytes");
        fuzz::require_one_canonical_form(entry.event, *bytes);
    }

    auto const head = quenmark::derive_head(*entries);
    fuzz::require(head.has_value(), "every chain read has a head to append to");
    auto const key = golden_key().verifying_key();
    if (!quenmark::verify_chain(*entries, key))
        return 0;
    auto const next = quenmark::link_event(*head, golden_key(), appended_event());
    fuzz::require(next.has_value(), "an event links to every chain read");
    auto extended = *entries;
    extended.push_back(*next);
    std::string appended;
    test_support::write_chain(extended, appended);
    auto const appended_entries = quenmark::parse_chain(appended);
    fuzz::require(appended_entries.has_value() && *appended_entries == extended,
                  "a chain with an appended event reads back as written");
    fuzz::require(quenmark::verify_chain(*appended_entries, key).has_value(),
                  "a chain that verifies still verifies after an append");
    return 0;
}

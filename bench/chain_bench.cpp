// Microbenchmarks of the audit chain: linking and signing one event, and
// verifying a chain of 1,000 entries.

#include "corvella/ids/ids.h"
#include "quenmark/ids/uuid.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

quenmark::SigningKey fixed_key()
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    for (std::size_t index = 0; index < seed.size(); ++index)
        seed[index] = static_cast<std::uint8_t>(index * 7 + 1);
    return quenmark::SigningKey::from_seed(seed);
}

quenmark::AuditEvent sample_event(std::int64_t second)
{
    quenmark::Actor actor;
    actor.actor_type = quenmark::ActorType::User;
    actor.actor_id = quenmark::Uuid::mint().to_string();
    quenmark::Target target;
    target.target_type = "training_assignment";
    target.target_id = quenmark::Uuid::mint().to_string();
    auto event = quenmark::build_audit_event(corvella::product_id(), actor, target,
                                             "training.assignment.created", quenmark::AuditResult::Success,
                                             quenmark::AuditCategory::Policy,
                                             quenmark::Timestamp::from_unix_seconds(1'765'000'000 + second));
    event.tenant_id = quenmark::Uuid::mint();
    event.workspace_id = quenmark::Uuid::mint();
    return event;
}

std::vector<quenmark::SignedAuditEvent> chain_of(std::size_t length, quenmark::SigningKey const& key)
{
    std::vector<quenmark::SignedAuditEvent> entries;
    entries.reserve(length);
    for (std::size_t index = 0; index < length; ++index) {
        auto const head = quenmark::derive_head(std::span(entries.data() + (entries.empty() ? 0 : entries.size() - 1),
                                                          entries.empty() ? 0 : 1));
        auto entry = quenmark::link_event(*head, key, sample_event(static_cast<std::int64_t>(index)));
        entries.push_back(std::move(*entry));
    }
    return entries;
}

void link_one_event(benchmark::State& state)
{
    auto const key = fixed_key();
    auto const entries = chain_of(1, key);
    auto const head = quenmark::derive_head(entries);
    auto const event = sample_event(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(quenmark::link_event(*head, key, event));
}
BENCHMARK(link_one_event);

void verify_chain_of_1000(benchmark::State& state)
{
    auto const key = fixed_key();
    auto const entries = chain_of(1000, key);
    auto const verifying_key = key.verifying_key();
    for (auto _ : state)
        benchmark::DoNotOptimize(quenmark::verify_chain(entries, verifying_key));
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(verify_chain_of_1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

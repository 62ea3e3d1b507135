// Microbenchmarks of the integrity primitives on inputs the size of one audit
// event: canonical bytes, the content hash, signing and verification.

#include "corvella/ids/ids.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/value.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace {

using quenmark::json::Array;
using quenmark::json::Object;
using quenmark::json::Value;

// The object with its members in byte order of their keys.
Object sorted(Object object)
{
    std::ranges::sort(object, {}, [](auto const& member) -> std::string const& { return member.first; });
    return object;
}

// An object shaped like a signed audit event: about eighteen members, two
// small nested objects and a short array, identifiers and instants as text.
// Its keys are in byte order, as records write theirs.
Value event_value(std::string const& reason)
{
    Object event;
    auto set = [&](char const* name, Value value) { event.emplace_back(name, std::move(value)); };
    Object actor { { "id", Value("3f0c7a52-9d1e-4b8a-a6f2-5c0e1d9b7a44") }, { "kind", Value("operator") } };
    Object target { { "id", Value("b6d2e8f1-0a3c-4e5b-9f7d-1c2a3b4c5d6e") }, { "kind", Value("training_assignment") } };
    set("event_id", Value("0e8f4c1a-7b2d-4f9e-8a6c-3d5b7e9f1a2c"));
    set("action", Value("training.assignment.created"));
    set("product", Value("corvella-training"));
    set("contract_version", Value(std::uint64_t { 1 }));
    set("tenant_id", Value("5a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    set("workspace_id", Value("6b2c3d4e-5f6a-4b7c-9d8e-0f1a2b3c4d5e"));
    set("actor", Value(std::move(actor)));
    set("target", Value(std::move(target)));
    set("occurred_at", Value("2026-12-08T04:00:09Z"));
    set("sequence", Value(std::uint64_t { 4812 }));
    set("outcome", Value("success"));
    set("reason", Value(reason));
    set("correlation_id", Value("c0ffee00-1234-4abc-8def-0123456789ab"));
    set("learner_visible", Value(true));
    set("redactions", Value(Array { Value("principal_email"), Value("free_text") }));
    set("previous_event_hash", Value("blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"));
    set("signature_key_id", Value(nullptr));
    set("due_at", Value("2026-12-22T04:00:09Z"));
    return Value(sorted(std::move(event)));
}

void canonical_bytes_ascii_event(benchmark::State& state)
{
    Value const event = event_value("assessment assigned to learner for the quarterly compliance review");
    for (auto _ : state) {
        auto bytes = quenmark::json::canonical_bytes(event);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(canonical_bytes_ascii_event);

void canonical_bytes_composed_event(benchmark::State& state)
{
    Value const event = event_value("re\xCC\x81vision annuelle: l'e\xCC\x81quipe a e\xCC\x81te\xCC\x81 assigne\xCC\x81"
                                    "e");
    for (auto _ : state) {
        auto bytes = quenmark::json::canonical_bytes(event);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(canonical_bytes_composed_event);

// An event as the commands append them: identifiers on the actor and target,
// tenant and workspace set, linked to the event before it.
quenmark::AuditEvent typical_event()
{
    auto event = quenmark::build_audit_event(corvella::product_id(),
        quenmark::Actor { quenmark::ActorType::User, "3f0c7a52-9d1e-4b8a-a6f2-5c0e1d9b7a44", std::nullopt },
        quenmark::Target { "training_assignment", "b6d2e8f1-0a3c-4e5b-9f7d-1c2a3b4c5d6e" },
        "training.assignment.created", quenmark::AuditResult::Success, quenmark::AuditCategory::Policy,
        *quenmark::Timestamp::parse("2026-12-08T04:00:09Z"));
    event.tenant_id = *quenmark::Uuid::parse("5a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    event.workspace_id = *quenmark::Uuid::parse("6b2c3d4e-5f6a-4b7c-9d8e-0f1a2b3c4d5e");
    event.previous_event_hash
        = *quenmark::ContentHash::parse("blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
    return event;
}

void event_canonical_bytes(benchmark::State& state)
{
    quenmark::AuditEvent const event = typical_event();
    for (auto _ : state) {
        auto bytes = quenmark::event_canonical_bytes(event);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(event_canonical_bytes);

// Into a reused buffer, as verifying a chain does.
void event_canonical_bytes_appended(benchmark::State& state)
{
    quenmark::AuditEvent const event = typical_event();
    std::string buffer;
    buffer.reserve(1024);
    for (auto _ : state) {
        buffer.clear();
        quenmark::append_canonical_bytes(event, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(event_canonical_bytes_appended);

std::string message_of_size(std::size_t size)
{
    std::string message(size, '\0');
    for (std::size_t index = 0; index < size; ++index)
        message[index] = static_cast<char>('a' + index % 26);
    return message;
}

void blake3_700_bytes(benchmark::State& state)
{
    std::string const message = message_of_size(700);
    for (auto _ : state) {
        auto hash = quenmark::ContentHash::of_bytes(message);
        benchmark::DoNotOptimize(hash);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 700);
}
BENCHMARK(blake3_700_bytes);

quenmark::SigningKey fixed_key()
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    for (std::size_t index = 0; index < seed.size(); ++index)
        seed[index] = static_cast<std::uint8_t>(index * 7 + 1);
    return quenmark::SigningKey::from_seed(seed);
}

void sign_700_bytes(benchmark::State& state)
{
    quenmark::SigningKey const key = fixed_key();
    std::string const message = message_of_size(700);
    for (auto _ : state) {
        auto signature = key.sign(std::string_view(message));
        benchmark::DoNotOptimize(signature);
    }
}
BENCHMARK(sign_700_bytes);

void verify_700_bytes(benchmark::State& state)
{
    quenmark::SigningKey const key = fixed_key();
    quenmark::VerifyingKey const verifying_key = key.verifying_key();
    std::string const message = message_of_size(700);
    quenmark::Signature const signature = key.sign(std::string_view(message));
    for (auto _ : state) {
        bool const valid = quenmark::verify_bytes(verifying_key, message, signature);
        benchmark::DoNotOptimize(valid);
    }
}
BENCHMARK(verify_700_bytes);

void sign_record_event(benchmark::State& state)
{
    quenmark::SigningKey const key = fixed_key();
    Value const event = event_value("assessment assigned to learner for the quarterly compliance review");
    for (auto _ : state) {
        auto const bytes = quenmark::json::canonical_bytes(event);
        auto signature = key.sign(std::string_view(*bytes));
        benchmark::DoNotOptimize(signature);
    }
}
BENCHMARK(sign_record_event);

} // namespace

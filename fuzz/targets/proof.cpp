// Proof texts as `audit verify-proof` reads them: a text read as an inclusion
// or consistency proof is written again in a form that reads back as the same
// proof and is written again byte for byte; checking it under a fixed key and
// reading its leaf end in a value or a reason, never a crash.

#include "fuzz_support.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/log_proof.h"
#include "quenmark/integrity/signing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr std::string_view origin_prefix = "corvellactl-audit/";

quenmark::VerifyingKey fixed_key()
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(7);
    return quenmark::SigningKey::from_seed(seed).verifying_key();
}

// Parsed, written, parsed again: the same proof and the same text.
template<typename Parse, typename Format>
void check_round_trip(std::string_view text, Parse const& parse, Format const& format)
{
    auto const proof = parse(text);
    if (!proof) {
        fuzz::require(proof.error().starts_with("its text is not in the "), "a refused text gets a parser message");
        return;
    }
    std::string const written = format(*proof);
    auto const reread = parse(written);
    fuzz::require(reread.has_value() && *reread == *proof, "a written proof reads back as the same proof");
    fuzz::require(format(*reread) == written, "a proof read back is written again byte for byte");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    quenmark::VerifyingKey const key = fixed_key();
    check_round_trip(text, quenmark::parse_inclusion_proof, quenmark::format_inclusion_proof);
    check_round_trip(text, quenmark::parse_consistency_proof, quenmark::format_consistency_proof);
    if (auto const inclusion = quenmark::parse_inclusion_proof(text)) {
        (void)quenmark::check_inclusion_proof(*inclusion, origin_prefix, key);
        (void)quenmark::open_leaf(inclusion->leaf, key);
    }
    if (auto const consistency = quenmark::parse_consistency_proof(text))
        (void)quenmark::check_consistency_proof(*consistency, origin_prefix, key);
    return 0;
}

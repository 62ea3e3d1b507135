// ref_sodium_verify: the floor of checking an audit chain's signatures.
//
//   ref_sodium_verify AUDIT_FILE KEY_FILE
//
// Before timing starts, the chain is read and every event's canonical bytes
// are computed with the project's library. The timed part is libsodium's
// crypto_sign_verify_detached over all signatures, split into contiguous
// slices over std::thread::hardware_concurrency() threads. Prints "seconds
// <elapsed>", the number of signatures and the number of threads; exits 1
// if any signature fails.

#include "bench_support.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view program = "ref_sodium_verify";

struct Signed {
    std::string message;
    std::array<std::uint8_t, quenmark::signature_size> signature {};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return corvella_bench::fail(program, "usage: ref_sodium_verify AUDIT_FILE KEY_FILE");
    if (sodium_init() < 0)
        return corvella_bench::fail(program, "libsodium cannot be initialised");
    auto const chain_text = corvella_bench::read_whole_file(argv[1]);
    auto const key_text = corvella_bench::read_whole_file(argv[2]);
    if (!chain_text || !key_text)
        return corvella_bench::fail(program, "cannot read the audit chain or the key file");
    auto const key = quenmark::SigningKey::from_hex(*key_text);
    if (!key)
        return corvella_bench::fail(program, "the key file is not a hex seed");
    auto const public_key = key->verifying_key();
    auto entries = quenmark::parse_chain(*chain_text);
    if (!entries)
        return corvella_bench::fail(program, entries.error());

    std::vector<Signed> items;
    items.reserve(entries->size());
    for (auto const& entry : *entries) {
        auto bytes = quenmark::event_canonical_bytes(entry.event);
        if (!bytes)
            return corvella_bench::fail(program, bytes.error().text());
        items.push_back({ std::move(*bytes), entry.signature.bytes });
    }
    entries->clear();
    entries->shrink_to_fit();

    unsigned const threads = std::max(1U, std::thread::hardware_concurrency());
    std::atomic<std::size_t> failures { 0 };
    corvella_bench::Stopwatch const stopwatch;
    std::vector<std::thread> workers;
    std::size_t const slice = (items.size() + threads - 1) / threads;
    for (unsigned worker = 0; worker < threads; ++worker) {
        std::size_t const begin = std::min(items.size(), worker * slice);
        std::size_t const end = std::min(items.size(), begin + slice);
        workers.emplace_back([&items, &public_key, &failures, begin, end] {
            std::size_t failed = 0;
            for (std::size_t index = begin; index < end; ++index) {
                auto const& item = items[index];
                if (crypto_sign_verify_detached(item.signature.data(),
                                                reinterpret_cast<unsigned char const*>(item.message.data()),
                                                item.message.size(), public_key.bytes.data())
                    != 0)
                    ++failed;
            }
            failures += failed;
        });
    }
    for (auto& worker : workers)
        worker.join();
    double const elapsed = stopwatch.seconds();

    corvella_bench::print_seconds(elapsed);
    std::printf("signatures %zu\nthreads %u\n", items.size(), threads);
    if (failures.load() != 0)
        return corvella_bench::fail(program, std::to_string(failures.load()) + " signatures do not verify");
    return 0;
}

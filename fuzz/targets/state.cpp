// The state file: the JSON checks agree on it (see canonical_json.cpp);
// whatever parse_store accepts is JSON, is written back in a form that reads
// as the same store and is written again byte for byte, and each
// certificate's signed bytes are those of the one canonicaliser. A refusal
// names a line and column inside the input. Read with both cores as laid
// out by the writer, a text gives the same store or is left to the reader
// of the whole; the written form always reads that way.

#include "json_checks.h"

#include "store/state.h"

#include "corvella/certificate.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    fuzz::require_agreement(text);
    fuzz::Padded const input(text);
    auto const store = corvellactl::parse_store(input.data(), input.size());
    auto const laid_out = corvellactl::parse_laid_out_store(input.data(), input.size());
    fuzz::require(!laid_out || (store && *laid_out == *store), "a laid-out state file reads as the same store");
    if (!store) {
        fuzz::require(fuzz::names_a_position(store.error(), text), "a refused state file names a place in it");
        return 0;
    }
    fuzz::require_json(text, "an accepted state file is JSON");

    std::string written;
    corvellactl::write_store(*store, written);
    fuzz::Padded const written_input(written);
    auto const reread = corvellactl::parse_store(written_input.data(), written_input.size());
    fuzz::require(reread.has_value(), "a written state file reads back");
    fuzz::require(*reread == *store, "a written state file reads back as the same store");
    auto const reread_laid_out = corvellactl::parse_laid_out_store(written_input.data(), written_input.size());
    fuzz::require(reread_laid_out && *reread_laid_out == *store, "a written state file reads with both cores");
    std::string rewritten;
    corvellactl::write_store(*reread, rewritten);
    fuzz::require(rewritten == written, "a state file read back is written again byte for byte");

    for (auto const& certificate : store->certificates) {
        auto const bytes = corvella::signing_input(certificate.payload);
        fuzz::require(bytes.has_value(), "a stored certificate's payload has canonical bytes");
        fuzz::require_one_canonical_form(certificate.payload, *bytes);
    }
    return 0;
}

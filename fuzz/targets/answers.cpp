// The --answers text of the attempt command: an accepted text holds one
// index per comma-separated piece, and the indices written back in plain
// decimal read as the same indices. White space around the pieces changes
// nothing, and neither changes whether the text is refused (the command line
// hands over UTF-8 only, so that is checked on UTF-8 text).

#include "fuzz_support.h"

#include "commands/answers.h"

#include "quenmark/text/text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The pieces of the text, each with white space put around it.
std::string spaced(std::string_view text)
{
    std::string out = " \t";
    for (char const character : text) {
        if (character == ',')
            out.append("\xC2\xA0,\n ");
        else
            out.push_back(character);
    }
    out.append("\xE2\x80\x83");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    auto const indices = corvellactl::parse_answers(text);
    if (indices) {
        auto const commas = static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
        fuzz::require(indices->size() == commas + 1, "an accepted text holds one index per piece");
        std::string written;
        for (std::uint64_t const index : *indices) {
            if (!written.empty())
                written.push_back(',');
            quenmark::append_decimal(written, index);
        }
        fuzz::require(corvellactl::parse_answers(written) == indices, "written indices read back as the same indices");
    }
    if (quenmark::is_valid_utf8(text)) {
        fuzz::require(corvellactl::parse_answers(spaced(text)) == indices,
                      "white space around the pieces changes nothing");
    }
    return 0;
}

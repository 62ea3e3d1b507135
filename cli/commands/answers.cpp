#include "commands/answers.h"

#include "quenmark/text/text.h"

#include <charconv>
#include <system_error>

namespace corvellactl {
namespace {

std::optional<std::uint64_t> parse_index(std::string_view piece)
{
    piece = quenmark::trim_white_space(piece);
    if (!piece.empty() && piece.front() == '+')
        piece.remove_prefix(1);
    if (piece.empty() || piece.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    auto const [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc {} || end != piece.data() + piece.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<std::uint64_t>> parse_answers(std::string_view text)
{
    std::vector<std::uint64_t> indices;
    for (;;) {
        auto const comma = text.find(',');
        auto const index = parse_index(text.substr(0, comma));
        if (!index)
            return std::nullopt;
        indices.push_back(*index);
        if (comma == std::string_view::npos)
            return indices;
        text.remove_prefix(comma + 1);
    }
}

} // namespace corvellactl

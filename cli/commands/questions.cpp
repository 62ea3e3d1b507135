#include "commands/questions.h"

#include "quenmark/json/read.h"

#include <utility>

namespace corvellactl {

quenmark::Expected<std::vector<corvella::RawQuestion>, std::string> parse_questions(char const* data, std::size_t size)
{
    std::vector<corvella::RawQuestion> questions;
    auto const read_root = [&questions](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
        return root.array([&questions](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
            return read_json(element, questions.emplace_back());
        });
    };
    auto result = quenmark::json::read_padded_document(data, size, read_root);
    if (!result)
        return quenmark::unexpected(std::move(result).error());
    return questions;
}

} // namespace corvellactl

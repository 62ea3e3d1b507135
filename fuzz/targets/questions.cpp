// The questions file of `assessment create`: the JSON checks agree on it
// (see canonical_json.cpp); whatever parse_questions accepts is JSON, and
// the questions written back as a questions file read as the same questions
// and are written again byte for byte. A refusal names a line and column
// inside the input.

#include "json_checks.h"

#include "commands/questions.h"

#include "corvella/assessment.h"
#include "quenmark/json/value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string questions_file(std::vector<corvella::RawQuestion> const& questions)
{
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    writer.begin_array();
    for (auto const& question : questions)
        write_json(writer, question);
    writer.end_array();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    fuzz::require_agreement(text);
    fuzz::Padded const input(text);
    auto const questions = corvellactl::parse_questions(input.data(), input.size());
    if (!questions) {
        fuzz::require(fuzz::names_a_position(questions.error(), text), "a refused questions file names a place in it");
        return 0;
    }
    fuzz::require_json(text, "an accepted questions file is JSON");

    std::string const written = questions_file(*questions);
    fuzz::Padded const written_input(written);
    auto const reread = corvellactl::parse_questions(written_input.data(), written_input.size());
    fuzz::require(reread.has_value() && *reread == *questions, "written questions read back as the same questions");
    fuzz::require(questions_file(*reread) == written, "questions read back are written again byte for byte");
    return 0;
}

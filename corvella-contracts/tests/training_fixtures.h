#pragma once

// Small named builders shared by the training contract tests: fixed
// identifiers and instants, JSON round trips and a published assessment.

#include "corvella/assessment.h"
#include "corvella/ids/ids.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/time/timestamp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace training_fixtures {

template<typename Id>
Id id(std::string_view text)
{
    auto parsed = Id::parse(text);
    if (!parsed) {
        ADD_FAILURE() << "bad fixture id " << text;
        return Id {};
    }
    return *parsed;
}

inline quenmark::Timestamp at(std::string_view text)
{
    auto parsed = quenmark::Timestamp::parse(text);
    if (!parsed) {
        ADD_FAILURE() << "bad fixture instant " << text;
        return quenmark::Timestamp {};
    }
    return *parsed;
}

// The record in the state file's pretty layout.
template<typename Record>
std::string to_json(Record const& record)
{
    std::string text;
    quenmark::json::PrettyWriter writer(text);
    write_json(writer, record);
    return text;
}

// Reads `text` as one record; the error is the reader's message with its position.
template<typename Record>
quenmark::Expected<Record, std::string> from_json(std::string_view text)
{
    Record record {};
    auto result = quenmark::json::read_document(
        text, [&](quenmark::json::ValueReader& reader) { return read_json(reader, record); });
    if (!result)
        return quenmark::unexpected(std::move(result).error());
    return record;
}

inline quenmark::SigningKey key_from_seed(std::uint8_t fill)
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(fill);
    return quenmark::SigningKey::from_seed(seed);
}

// A published three-question assessment; question i has correct index i.
inline corvella::AssessmentDefinition three_questions(std::uint32_t min_correct, std::uint32_t attempt_limit)
{
    corvella::AssessmentDefinition definition;
    definition.id = id<corvella::AssessmentId>("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9");
    definition.course_id = id<corvella::CourseId>("11111111-2222-4333-8444-555555555555");
    definition.title = "Data handling";
    definition.version = 1;
    definition.status = corvella::AssessmentStatus::Published;
    definition.passing_rule = { min_correct, 3 };
    definition.attempt_limit = attempt_limit;
    for (std::uint64_t index = 0; index < 3; ++index) {
        definition.questions.push_back(corvella::Question {
            corvella::QuestionId::mint(), "Question " + std::to_string(index), { "a", "b", "c" }, index });
    }
    return definition;
}

} // namespace training_fixtures

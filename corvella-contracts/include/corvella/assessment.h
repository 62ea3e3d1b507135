#pragma once

// Assessment definitions: multiple-choice knowledge checks with an answer
// key, a passing rule and an attempt limit; the rules a new definition must
// pass; the learner view that hides the answer key; and their JSON form.

#include "corvella/enums.h"
#include "corvella/errors.h"
#include "corvella/ids/ids.h"
#include "quenmark/expected.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvella {

struct Question {
    QuestionId id;
    std::string prompt;
    std::vector<std::string> choices;
    std::uint64_t correct_index { 0 }; // the answer key: a position in choices

    friend bool operator==(Question const&, Question const&) = default;
};

// One entry of a questions file, before it has an id; building a Question
// from it applies the rules.
struct RawQuestion {
    std::string prompt;
    std::vector<std::string> choices;
    std::uint64_t correct_index { 0 };

    friend bool operator==(RawQuestion const&, RawQuestion const&) = default;
};

// An attempt passes with at least min_correct correct answers. Minimum
// correct is the one kind of passing rule there is; its JSON form names it.
struct PassingRule {
    std::uint32_t min_correct { 0 };
    std::uint32_t total_questions { 0 };

    friend bool operator==(PassingRule const&, PassingRule const&) = default;
};

struct AssessmentDefinition {
    AssessmentId id;
    CourseId course_id;
    std::string title;
    std::uint32_t version { 1 };
    AssessmentStatus status { AssessmentStatus::Draft };
    PassingRule passing_rule;
    std::vector<Question> questions;
    std::uint32_t attempt_limit { 1 };

    friend bool operator==(AssessmentDefinition const&, AssessmentDefinition const&) = default;
};

struct LearnerQuestionView {
    QuestionId id;
    std::string prompt;
    std::vector<std::string> choices;
};

// What a learner may see of a published definition: never the answer key or
// the passing rule.
struct LearnerAssessmentView {
    AssessmentId id;
    CourseId course_id;
    std::string title;
    std::uint32_t version { 1 };
    std::uint32_t attempt_limit { 1 };
    std::vector<LearnerQuestionView> questions;
};

// Checks, in order: prompt not blank, at least two choices, no blank choice,
// correct_index within the choices. The texts are stored unchanged.
[[nodiscard]] quenmark::Expected<Question, TrainingValidationError>
build_question(std::string prompt, std::vector<std::string> choices, std::uint64_t correct_index);
[[nodiscard]] quenmark::Expected<Question, TrainingValidationError> build_question(RawQuestion raw);

// MinCorrectOutOfRange unless 1 <= min_correct <= total_questions.
[[nodiscard]] quenmark::Expected<PassingRule, TrainingValidationError>
build_passing_rule(std::uint32_t min_correct, std::uint32_t total_questions);

// The inputs of a new definition. The min_correct range is the caller's
// check (build_passing_rule), made before building.
struct NewAssessment {
    std::string title;
    CourseId course_id;
    std::uint32_t version { 1 };
    std::uint32_t min_correct { 0 };
    std::uint32_t total_questions { 0 };
    std::vector<Question> questions;
    std::uint32_t attempt_limit { 0 };
};

// A draft definition with a fresh id. Checks, in order: title not blank, at
// least one question, attempt limit at least 1, no question id twice,
// total_questions equal to the number of questions.
[[nodiscard]] quenmark::Expected<AssessmentDefinition, TrainingValidationError> build_assessment(NewAssessment input);

// The definition with status published, whatever its status was; every other
// field, the version included, is kept.
AssessmentDefinition publish(AssessmentDefinition definition);

// The learner view of a published definition; NoLearnerView otherwise.
[[nodiscard]] quenmark::Expected<LearnerAssessmentView, TrainingValidationError>
learner_view(AssessmentDefinition const& definition);

// JSON form. Reading applies none of the building rules.
void write_json(quenmark::json::Sink& sink, Question const& question);
void write_json(quenmark::json::Sink& sink, RawQuestion const& question);
void write_json(quenmark::json::Sink& sink, PassingRule const& rule);
void write_json(quenmark::json::Sink& sink, AssessmentDefinition const& definition);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Question& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, RawQuestion& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, PassingRule& out);
[[nodiscard]] quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, AssessmentDefinition& out);

} // namespace corvella

#include "corvella/assessment.h"

#include "identifier_json.h"
#include "quenmark/text/text.h"

#include <array>
#include <unordered_set>
#include <utility>

namespace corvella {

namespace {

using quenmark::json::member;

constexpr auto question_members = quenmark::json::members(
    member<&Question::id>("id"),
    member<&Question::prompt>("prompt"),
    member<&Question::choices>("choices"),
    member<&Question::correct_index>("correct_index"));

constexpr auto raw_question_members = quenmark::json::members(
    member<&RawQuestion::prompt>("prompt"),
    member<&RawQuestion::choices>("choices"),
    member<&RawQuestion::correct_index>("correct_index"));

constexpr auto minimum_correct_members = quenmark::json::members(
    member<&PassingRule::min_correct>("min_correct"),
    member<&PassingRule::total_questions>("total_questions"));

constexpr auto assessment_members = quenmark::json::members(
    member<&AssessmentDefinition::id>("id"),
    member<&AssessmentDefinition::course_id>("course_id"),
    member<&AssessmentDefinition::title>("title"),
    member<&AssessmentDefinition::version>("version"),
    member<&AssessmentDefinition::status>("status"),
    member<&AssessmentDefinition::passing_rule>("passing_rule"),
    member<&AssessmentDefinition::questions>("questions"),
    member<&AssessmentDefinition::attempt_limit>("attempt_limit"));

// The passing rule's JSON names its kind: {"minimum_correct": {...}}.
constexpr std::array<std::string_view, 1> passing_rule_kinds { "minimum_correct" };

} // namespace

quenmark::Expected<Question, TrainingValidationError>
build_question(std::string prompt, std::vector<std::string> choices, std::uint64_t correct_index)
{
    if (quenmark::is_blank(prompt))
        return quenmark::unexpected(TrainingValidationError::empty_field(TextField::Prompt));
    // Minted before the remaining checks so that their messages can name the question.
    QuestionId const id = QuestionId::mint();
    if (choices.size() < 2)
        return quenmark::unexpected(TrainingValidationError::too_few_choices(id, choices.size()));
    for (auto const& choice : choices) {
        if (quenmark::is_blank(choice))
            return quenmark::unexpected(TrainingValidationError::empty_field(TextField::Choice));
    }
    if (correct_index >= choices.size())
        return quenmark::unexpected(TrainingValidationError::correct_index_out_of_range(id, correct_index, choices.size()));
    return Question { id, std::move(prompt), std::move(choices), correct_index };
}

quenmark::Expected<Question, TrainingValidationError> build_question(RawQuestion raw)
{
    return build_question(std::move(raw.prompt), std::move(raw.choices), raw.correct_index);
}

quenmark::Expected<PassingRule, TrainingValidationError> build_passing_rule(std::uint32_t min_correct,
                                                                            std::uint32_t total_questions)
{
    if (min_correct == 0 || min_correct > total_questions)
        return quenmark::unexpected(TrainingValidationError::min_correct_out_of_range(min_correct, total_questions));
    return PassingRule { min_correct, total_questions };
}

quenmark::Expected<AssessmentDefinition, TrainingValidationError> build_assessment(NewAssessment input)
{
    if (quenmark::is_blank(input.title))
        return quenmark::unexpected(TrainingValidationError::empty_field(TextField::Title));
    if (input.questions.empty())
        return quenmark::unexpected(TrainingValidationError::no_questions());
    if (input.attempt_limit == 0)
        return quenmark::unexpected(TrainingValidationError::attempt_limit_too_low(input.attempt_limit));

    std::unordered_set<QuestionId> seen;
    seen.reserve(input.questions.size());
    for (auto const& question : input.questions) {
        if (!seen.insert(question.id).second)
            return quenmark::unexpected(TrainingValidationError::duplicate_question_id(question.id));
    }
    if (input.total_questions != input.questions.size())
        return quenmark::unexpected(
            TrainingValidationError::total_questions_mismatch(input.total_questions, input.questions.size()));

    return AssessmentDefinition {
        .id = AssessmentId::mint(),
        .course_id = input.course_id,
        .title = std::move(input.title),
        .version = input.version,
        .status = AssessmentStatus::Draft,
        .passing_rule = PassingRule { input.min_correct, input.total_questions },
        .questions = std::move(input.questions),
        .attempt_limit = input.attempt_limit,
    };
}

AssessmentDefinition publish(AssessmentDefinition definition)
{
    definition.status = AssessmentStatus::Published;
    return definition;
}

quenmark::Expected<LearnerAssessmentView, TrainingValidationError> learner_view(AssessmentDefinition const& definition)
{
    if (definition.status != AssessmentStatus::Published)
        return quenmark::unexpected(TrainingValidationError::no_learner_view(definition.id, definition.status));
    LearnerAssessmentView view {
        .id = definition.id,
        .course_id = definition.course_id,
        .title = definition.title,
        .version = definition.version,
        .attempt_limit = definition.attempt_limit,
        .questions = {},
    };
    view.questions.reserve(definition.questions.size());
    for (auto const& question : definition.questions)
        view.questions.push_back(LearnerQuestionView { question.id, question.prompt, question.choices });
    return view;
}

void write_json(quenmark::json::Sink& sink, Question const& question)
{
    quenmark::json::write_members(sink, question_members, question);
}

void write_json(quenmark::json::Sink& sink, RawQuestion const& question)
{
    quenmark::json::write_members(sink, raw_question_members, question);
}

void write_json(quenmark::json::Sink& sink, PassingRule const& rule)
{
    sink.begin_object();
    sink.key(passing_rule_kinds[0]);
    quenmark::json::write_members(sink, minimum_correct_members, rule);
    sink.end_object();
}

void write_json(quenmark::json::Sink& sink, AssessmentDefinition const& definition)
{
    quenmark::json::write_members(sink, assessment_members, definition);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, Question& out)
{
    return quenmark::json::read_members(reader, question_members, out);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, RawQuestion& out)
{
    return quenmark::json::read_members(reader, raw_question_members, out);
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, PassingRule& out)
{
    out = PassingRule {};
    return reader.variant(passing_rule_kinds, [&](std::size_t, quenmark::json::ValueReader& value) {
        return quenmark::json::read_members(value, minimum_correct_members, out);
    });
}

quenmark::json::Read<void> read_json(quenmark::json::ValueReader& reader, AssessmentDefinition& out)
{
    return quenmark::json::read_members(reader, assessment_members, out);
}

} // namespace corvella

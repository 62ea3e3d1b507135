#include "corvella/assessment.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvella;
using training_fixtures::from_json;
using training_fixtures::id;
using training_fixtures::to_json;

namespace {

// Minted question ids differ on every run; messages show them as "Q".
template<typename R>
std::string masked_error(R const& result)
{
    std::string text = test_support::error_text(result);
    std::string_view const prefix = "QuestionId(";
    if (auto const start = text.find(prefix); start != std::string::npos) {
        std::size_t const length = prefix.size() + 36 + 1;
        EXPECT_EQ(text.substr(start + length - 1, 1), ")") << text;
        text.replace(start, length, "Q");
    }
    return text;
}

Question question(std::string prompt)
{
    auto built = build_question(std::move(prompt), { "yes", "no" }, 0);
    EXPECT_TRUE(test_support::has_value(built));
    return *built;
}

TEST(BuildQuestion, RulesInOrder)
{
    struct Row {
        std::string prompt;
        std::vector<std::string> choices;
        std::uint64_t correct_index;
        std::string expected;
    };
    Row const rows[] = {
        { "", { "a", "b" }, 0, "prompt must not be empty" },
        { "   ", { "a", "b" }, 0, "prompt must not be empty" },
        { "\u3000", { "a", "b" }, 0, "prompt must not be empty" },
        { " \t\n", { "a" }, 5, "prompt must not be empty" },
        { "Pick", {}, 0, "question Q must offer at least two choices, got 0" },
        { "Pick", { "" }, 0, "question Q must offer at least two choices, got 1" },
        { "Pick", { "a", " " }, 0, "choice must not be empty" },
        { "Pick", { "\u3000", "b" }, 9, "choice must not be empty" },
        { "Pick", { "a", "b" }, 2, "question Q correct_index 2 is out of range for 2 choices" },
        { "Pick", { "a", "b", "c" }, 18446744073709551615ULL,
          "question Q correct_index 18446744073709551615 is out of range for 3 choices" },
        { "Pick", { "a", "b" }, 1, "<value>" },
        { "Pick", { "same", "same" }, 0, "<value>" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(masked_error(build_question(row.prompt, row.choices, row.correct_index)), row.expected)
            << '"' << row.prompt << '"';
}

TEST(BuildQuestion, KeepsTextsUnchangedAndMintsAnId)
{
    auto const first = build_question(RawQuestion { "  Which?  ", { " a ", "b\n" }, 1 });
    auto const second = build_question("  Which?  ", { " a ", "b\n" }, 1);
    ASSERT_TRUE(test_support::has_value(first));
    ASSERT_TRUE(test_support::has_value(second));
    EXPECT_EQ(first->prompt, "  Which?  ");
    EXPECT_EQ(first->choices, (std::vector<std::string> { " a ", "b\n" }));
    EXPECT_EQ(first->correct_index, 1U);
    EXPECT_NE(first->id, second->id);
}

TEST(BuildPassingRule, MinCorrectRange)
{
    struct Row {
        std::uint32_t min_correct;
        std::uint32_t total;
        std::string expected;
    };
    Row const rows[] = {
        { 0, 3, "passing rule requires min_correct (0) between 1 and total_questions (3)" },
        { 4, 3, "passing rule requires min_correct (4) between 1 and total_questions (3)" },
        { 1, 0, "passing rule requires min_correct (1) between 1 and total_questions (0)" },
        { 1, 3, "<value>" },
        { 3, 3, "<value>" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(build_passing_rule(row.min_correct, row.total)), row.expected);
}

TEST(BuildAssessment, RulesInOrder)
{
    Question const q1 = question("One?");
    Question const q2 = question("Two?");
    struct Row {
        std::string title;
        std::vector<Question> questions;
        std::uint32_t total;
        std::uint32_t attempt_limit;
        std::string expected;
    };
    Row const rows[] = {
        { " ", {}, 0, 0, "title must not be empty" },
        { "T", {}, 0, 0, "assessment must have at least one question" },
        { "T", { q1 }, 7, 0, "attempt_limit must be at least 1, got 0" },
        { "T", { q1, q2, q1 }, 7, 1, "duplicate question id Q in one assessment" },
        { "T", { q1, q2 }, 3, 1, "passing rule total_questions (3) does not match question count (2)" },
        { "T", { q1, q2 }, 2, 1, "<value>" },
    };
    for (auto const& row : rows) {
        auto const built = build_assessment(NewAssessment {
            .title = row.title,
            .course_id = CourseId::mint(),
            .version = 1,
            .min_correct = 1,
            .total_questions = row.total,
            .questions = row.questions,
            .attempt_limit = row.attempt_limit,
        });
        EXPECT_EQ(masked_error(built), row.expected) << row.title << " " << row.total;
    }
}

TEST(BuildAssessment, BuildsADraft)
{
    CourseId const course = CourseId::mint();
    Question const q1 = question("One?");
    auto const built = build_assessment(NewAssessment {
        .title = " Safety ",
        .course_id = course,
        .version = 1,
        .min_correct = 1,
        .total_questions = 1,
        .questions = { q1 },
        .attempt_limit = 3,
    });
    ASSERT_TRUE(test_support::has_value(built));
    EXPECT_EQ(built->status, AssessmentStatus::Draft);
    EXPECT_EQ(built->title, " Safety ");
    EXPECT_EQ(built->course_id, course);
    EXPECT_EQ(built->version, 1U);
    EXPECT_EQ(built->passing_rule, (PassingRule { 1, 1 }));
    EXPECT_EQ(built->questions, std::vector<Question> { q1 });
    EXPECT_EQ(built->attempt_limit, 3U);
    EXPECT_EQ(built->id.to_string()[14], '4');
}

TEST(Publish, SetsPublishedFromAnyStatusAndKeepsTheRest)
{
    for (auto status : { AssessmentStatus::Draft, AssessmentStatus::Published, AssessmentStatus::Retired }) {
        AssessmentDefinition definition = training_fixtures::three_questions(2, 2);
        definition.status = status;
        definition.version = 7;
        AssessmentDefinition expected = definition;
        expected.status = AssessmentStatus::Published;
        EXPECT_EQ(publish(definition), expected);
    }
}

TEST(LearnerView, OnlyPublishedDefinitionsHaveOne)
{
    AssessmentDefinition definition = training_fixtures::three_questions(2, 2);
    std::string const full = definition.id.to_string();

    definition.status = AssessmentStatus::Draft;
    EXPECT_EQ(test_support::error_text(learner_view(definition)),
              "assessment AssessmentId(" + full + ") is draft and has no learner-facing view");
    definition.status = AssessmentStatus::Retired;
    EXPECT_EQ(test_support::error_text(learner_view(definition)),
              "assessment AssessmentId(" + full + ") is retired and has no learner-facing view");

    definition.status = AssessmentStatus::Published;
    auto const view = learner_view(definition);
    ASSERT_TRUE(test_support::has_value(view));
    EXPECT_EQ(view->id, definition.id);
    EXPECT_EQ(view->title, definition.title);
    EXPECT_EQ(view->attempt_limit, 2U);
    ASSERT_EQ(view->questions.size(), 3U);
    EXPECT_EQ(view->questions[2].id, definition.questions[2].id);
    EXPECT_EQ(view->questions[2].choices, definition.questions[2].choices);
}

TEST(AssessmentJson, WritesMembersInOrder)
{
    AssessmentDefinition definition;
    definition.id = id<AssessmentId>("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9");
    definition.course_id = id<CourseId>("11111111-2222-4333-8444-555555555555");
    definition.title = "Fire \"drill\"";
    definition.status = AssessmentStatus::Published;
    definition.passing_rule = { 1, 1 };
    definition.questions.push_back(
        Question { id<QuestionId>("22222222-3333-4444-8555-666666666666"), "Exit?", { "left", "right" }, 1 });
    definition.attempt_limit = 2;
    EXPECT_EQ(to_json(definition), R"({
  "id": "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9",
  "course_id": "11111111-2222-4333-8444-555555555555",
  "title": "Fire \"drill\"",
  "version": 1,
  "status": "published",
  "passing_rule": {
    "minimum_correct": {
      "min_correct": 1,
      "total_questions": 1
    }
  },
  "questions": [
    {
      "id": "22222222-3333-4444-8555-666666666666",
      "prompt": "Exit?",
      "choices": [
        "left",
        "right"
      ],
      "correct_index": 1
    }
  ],
  "attempt_limit": 2
})");
}

TEST(AssessmentJson, RoundTrip)
{
    AssessmentDefinition definition = training_fixtures::three_questions(2, 5);
    definition.status = AssessmentStatus::Retired;
    definition.questions[1].prompt = " caf\u00e9 \u3000";
    auto const read = from_json<AssessmentDefinition>(to_json(definition));
    ASSERT_TRUE(test_support::has_value(read));
    EXPECT_EQ(*read, definition);

    RawQuestion const raw { "Q?", { "a", "b", "c" }, 2 };
    auto const raw_read = from_json<RawQuestion>(to_json(raw));
    ASSERT_TRUE(test_support::has_value(raw_read));
    EXPECT_EQ(*raw_read, raw);
}

TEST(AssessmentJson, ReadingFailures)
{
    using testing::HasSubstr;
    using testing::StartsWith;
    std::string const valid = to_json(training_fixtures::three_questions(2, 2));
    auto replaced = [&](std::string const& from, std::string const& to) {
        std::string text = valid;
        text.replace(text.find(from), from.size(), to);
        return test_support::error_text(from_json<AssessmentDefinition>(text));
    };
    EXPECT_THAT(replaced("\"title\"", "\"name\""), StartsWith("missing field `title`"));
    EXPECT_THAT(replaced("\"published\"", "\"archived\""), StartsWith("unknown variant `archived`"));
    EXPECT_THAT(replaced("\"0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9\"", "\"abc\""),
                StartsWith("UUID parsing failed: " + quenmark::Uuid::parse("abc").error() + " at line 2"));
    EXPECT_THAT(replaced("\"version\": 1", "\"version\": 1, \"version\": 2"), StartsWith("duplicate field `version`"));
    EXPECT_THAT(replaced("\"minimum_correct\"", "\"maximum_correct\""),
                StartsWith("unknown variant `maximum_correct`, expected `minimum_correct` at line"));
    EXPECT_THAT(replaced("\"passing_rule\": {",
                         "\"passing_rule\": {\"minimum_correct\": {\"min_correct\": 1, \"total_questions\": 1}, "),
                StartsWith("expected a map with a single key at line"));
    // Unknown members are skipped.
    EXPECT_EQ(replaced("\"version\": 1", "\"version\": 1, \"colour\": [1, {\"x\": null}]"), "<value>");

    EXPECT_THAT(test_support::error_text(from_json<RawQuestion>(R"({"prompt": "p", "choices": ["a"]})")),
                HasSubstr("missing field `correct_index`"));
    EXPECT_THAT(test_support::error_text(from_json<RawQuestion>(R"({"prompt": "p", "choices": [], "correct_index": -1})")),
                testing::Not(testing::Eq("<value>")));
}

} // namespace

#include "corvella/grading.h"

#include "test_support.h"
#include "training_fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvella;
using training_fixtures::at;
using training_fixtures::three_questions;

namespace {

// Pairs the i-th question with the i-th index, as the attempt command does.
std::vector<Answer> answers_for(AssessmentDefinition const& assessment, std::vector<std::uint64_t> const& indices)
{
    std::vector<Answer> answers;
    for (std::size_t index = 0; index < indices.size(); ++index)
        answers.push_back(Answer { assessment.questions[index % assessment.questions.size()].id, indices[index] });
    return answers;
}

GradingRequest request_for(std::span<Answer const> answers, std::uint32_t attempt_number)
{
    return GradingRequest {
        .tenant_id = TenantId::mint(),
        .workspace_id = WorkspaceId::mint(),
        .principal_id = IdentityId::mint(),
        .assignment_id = AssignmentId::mint(),
        .attempt_number = attempt_number,
        .answers = answers,
        .started_at = at("2026-04-01T09:00:00Z"),
        .completed_at = at("2026-04-01T09:05:00Z"),
    };
}

TEST(Grade, OutcomesAtTheBoundaries)
{
    // Question i's correct index is i; an index beyond the choices is just wrong.
    struct Row {
        std::uint32_t min_correct;
        std::uint32_t attempt_limit;
        std::uint32_t attempt_number;
        std::vector<std::uint64_t> indices;
        AttemptStatus status;
        ScoreBand band;
        SafeFeedback feedback;
    };
    Row const rows[] = {
        { 2, 3, 1, { 0, 1, 0 }, AttemptStatus::Passed, ScoreBand::Pass, SafeFeedback::None },
        { 2, 3, 1, { 0, 1, 2 }, AttemptStatus::Passed, ScoreBand::Distinction, SafeFeedback::None },
        { 2, 3, 1, { 0, 0, 0 }, AttemptStatus::Failed, ScoreBand::Fail, SafeFeedback::ReviewRecommended },
        { 2, 3, 1, { 0, 1, 99 }, AttemptStatus::Passed, ScoreBand::Pass, SafeFeedback::None },
        { 2, 2, 1, { 9, 9, 9 }, AttemptStatus::Failed, ScoreBand::Fail, SafeFeedback::ReviewRecommended },
        { 2, 2, 2, { 9, 9, 9 }, AttemptStatus::Failed, ScoreBand::Fail, SafeFeedback::AttemptLimitReached },
        { 3, 2, 2, { 0, 1, 2 }, AttemptStatus::Passed, ScoreBand::Distinction, SafeFeedback::None },
        { 1, 1, 1, { 1, 1, 1 }, AttemptStatus::Passed, ScoreBand::Pass, SafeFeedback::None },
    };
    for (auto const& row : rows) {
        AssessmentDefinition const assessment = three_questions(row.min_correct, row.attempt_limit);
        auto const answers = answers_for(assessment, row.indices);
        auto const attempt = grade(assessment, request_for(answers, row.attempt_number));
        ASSERT_TRUE(test_support::has_value(attempt));
        EXPECT_EQ(attempt->status, row.status);
        EXPECT_EQ(attempt->score_band, row.band);
        EXPECT_EQ(attempt->safe_feedback, row.feedback);
    }
}

TEST(Grade, RefusalsInOrder)
{
    AssessmentDefinition const published = three_questions(2, 2);
    std::string const assessment = "AssessmentId(" + published.id.to_string() + ")";
    std::string const first_question = "QuestionId(" + published.questions[0].id.to_string() + ")";
    AssessmentDefinition draft = published;
    draft.status = AssessmentStatus::Draft;
    AssessmentDefinition retired = published;
    retired.status = AssessmentStatus::Retired;

    auto const three = answers_for(published, { 0, 1, 2 });
    auto const two = answers_for(published, { 0, 1 });
    std::vector<Answer> const duplicate_then_unknown {
        three[0], three[0], Answer { QuestionId::mint(), 0 } };
    std::vector<Answer> const unknown { three[0], Answer { QuestionId::mint(), 0 }, three[2] };
    std::string const unknown_text = "QuestionId(" + unknown[1].question_id.to_string() + ")";

    struct Row {
        AssessmentDefinition const* assessment;
        std::span<Answer const> answers;
        std::uint32_t attempt_number;
        std::string expected;
    };
    Row const rows[] = {
        { &draft, two, 9, "assessment " + assessment + " is not accepting attempts" },
        { &retired, three, 1, "assessment " + assessment + " is not accepting attempts" },
        { &published, two, 3, "attempt 3 exceeds the attempt limit (2) for assessment " + assessment },
        { &published, three, 0, "attempt 0 exceeds the attempt limit (2) for assessment " + assessment },
        { &published, two, 2, "answer set size 2 does not match the assessment's question count 3" },
        { &published, three, 2, "<value>" },
        { &published, duplicate_then_unknown, 1,
          "answer set contains more than one answer for question " + first_question },
        { &published, unknown, 1, "answer references unknown question " + unknown_text },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(grade(*row.assessment, request_for(row.answers, row.attempt_number))),
                  row.expected);
}

TEST(Grade, FillsTheAttempt)
{
    AssessmentDefinition assessment = three_questions(2, 3);
    assessment.version = 5;
    // Given out of question order, kept in question order.
    std::vector<Answer> const answers { { assessment.questions[2].id, 7 }, { assessment.questions[0].id, 0 },
                                        { assessment.questions[1].id, 1 } };
    GradingRequest request = request_for(answers, 2);
    auto const attempt = grade(assessment, request);
    ASSERT_TRUE(test_support::has_value(attempt));
    EXPECT_EQ(attempt->tenant_id, request.tenant_id);
    EXPECT_EQ(attempt->workspace_id, request.workspace_id);
    EXPECT_EQ(attempt->principal_id, request.principal_id);
    EXPECT_EQ(attempt->assignment_id, request.assignment_id);
    EXPECT_EQ(attempt->assessment_id, assessment.id);
    EXPECT_EQ(attempt->assessment_version, 5U);
    EXPECT_EQ(attempt->attempt_number, 2U);
    EXPECT_EQ(attempt->started_at, request.started_at);
    EXPECT_EQ(attempt->completed_at, request.completed_at);
    EXPECT_EQ(attempt->answers, (std::vector<std::uint64_t> { 0, 1, 7 }));
    EXPECT_NE(attempt->id, grade(assessment, request)->id);
}

TEST(BuildCompletionRecord, FromPassedAttemptsOnly)
{
    AssessmentDefinition assessment = three_questions(2, 3);
    assessment.version = 3;
    auto const right = answers_for(assessment, { 0, 1, 0 });
    auto const wrong = answers_for(assessment, { 2, 2, 0 });
    auto const passed = grade(assessment, request_for(right, 1));
    auto const failed = grade(assessment, request_for(wrong, 1));
    ASSERT_TRUE(passed && failed);

    std::string const long_ref(257, 'x');
    struct Row {
        KnowledgeCheckAttempt const* attempt;
        std::optional<std::string_view> evidence_ref;
        std::string expected;
    };
    Row const rows[] = {
        { &*failed, std::nullopt,
          "attempt AttemptId(" + failed->id.to_string().substr(0, 8) +
              "\u2026) did not pass; a completion record cannot be built from it" },
        { &*failed, "", "attempt AttemptId(" + failed->id.to_string().substr(0, 8) +
                            "\u2026) did not pass; a completion record cannot be built from it" },
        { &*passed, "", "evidence reference must be 1..=256 bytes, got 0" },
        { &*passed, long_ref, "evidence reference must be 1..=256 bytes, got 257" },
        { &*passed, std::string_view(long_ref).substr(1), "<value>" },
        { &*passed, "x", "<value>" },
        { &*passed, std::nullopt, "<value>" },
    };
    for (auto const& row : rows) {
        auto const record = build_completion_record(*row.attempt, row.evidence_ref);
        EXPECT_EQ(test_support::error_text(record), row.expected);
        if (record) {
            EXPECT_EQ(record->evidence_ref, row.evidence_ref);
        }
    }

    auto const record = build_completion_record(*passed, std::nullopt);
    ASSERT_TRUE(test_support::has_value(record));
    EXPECT_EQ(record->attempt_id, passed->id);
    EXPECT_EQ(record->assignment_id, passed->assignment_id);
    EXPECT_EQ(record->principal_id, passed->principal_id);
    EXPECT_EQ(record->assessment_version, 3U);
    EXPECT_EQ(record->score_band, ScoreBand::Pass);
    EXPECT_EQ(record->completed_at, passed->completed_at);
    EXPECT_EQ(record->expires_at, std::nullopt);
}

} // namespace

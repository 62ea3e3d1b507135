#include "corvella/ids/ids.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <unordered_set>

using namespace corvella;

namespace {

constexpr std::string_view canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";

TEST(Ids, EveryAcceptedShapeGivesTheSameIdentifierInCanonicalForm)
{
    std::string_view const shapes[] = {
        "67e55044-10b1-426f-9247-bb680e5fe0c8",
        "67E55044-10B1-426F-9247-BB680E5FE0C8",
        "67e5504410b1426f9247bb680e5fe0c8",
        "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
        "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
    };
    auto const expected = AssessmentId::parse(canonical);
    ASSERT_TRUE(test_support::has_value(expected));
    for (auto shape : shapes) {
        auto parsed = AssessmentId::parse(shape);
        ASSERT_TRUE(test_support::has_value(parsed)) << shape;
        EXPECT_EQ(*parsed, *expected) << shape;
        EXPECT_EQ(parsed->to_string(), canonical) << shape;
        std::string appended = "id=";
        parsed->append_to(appended);
        EXPECT_EQ(appended, "id=" + std::string(canonical));
    }
}

template<typename Id>
std::string parse_failure(std::string_view text)
{
    return test_support::error_text(Id::parse(text));
}

TEST(Ids, ParseFailureNamesTheType)
{
    struct Row {
        std::string actual;
        std::string_view kind;
    };
    Row const rows[] = {
        { parse_failure<CourseId>("abc"), "CourseId" },
        { parse_failure<AssessmentId>("abc"), "AssessmentId" },
        { parse_failure<QuestionId>("abc"), "QuestionId" },
        { parse_failure<AssignmentId>("abc"), "AssignmentId" },
        { parse_failure<AttemptId>("abc"), "AttemptId" },
        { parse_failure<CompletionRecordId>("abc"), "CompletionRecordId" },
        { parse_failure<CertificationId>("abc"), "CertificationId" },
        { parse_failure<TenantId>("abc"), "TenantId" },
        { parse_failure<WorkspaceId>("abc"), "WorkspaceId" },
        { parse_failure<IdentityId>("abc"), "IdentityId" },
    };
    std::string const reason = quenmark::Uuid::parse("abc").error();
    for (auto const& row : rows)
        EXPECT_EQ(row.actual, "invalid " + std::string(row.kind) + " identifier: " + reason);
}

TEST(Ids, DebugForms)
{
    auto const assessment = AssessmentId::parse(canonical);
    auto const question = QuestionId::parse(canonical);
    auto const assignment = AssignmentId::parse(canonical);
    auto const attempt = AttemptId::parse(canonical);
    auto const certificate = CertificationId::parse(canonical);
    ASSERT_TRUE(assessment && question && assignment && attempt && certificate);
    EXPECT_EQ(assessment->debug_form(), "AssessmentId(67e55044-10b1-426f-9247-bb680e5fe0c8)");
    EXPECT_EQ(question->debug_form(), "QuestionId(67e55044-10b1-426f-9247-bb680e5fe0c8)");
    EXPECT_EQ(assignment->debug_form(), "AssignmentId(67e55044\u2026)");
    EXPECT_EQ(attempt->debug_form(), "AttemptId(67e55044\u2026)");
    EXPECT_EQ(certificate->debug_form(), "CertificationId(67e55044\u2026)");
    // 10 + 8 + 1 characters plus the closing parenthesis; the ellipsis is three bytes.
    EXPECT_EQ(attempt->debug_form().size(), 10U + 8U + 3U + 1U);
}

TEST(Ids, MintedIdentifiersAreVersionFourAndDistinct)
{
    std::unordered_set<AttemptId> seen;
    for (int round = 0; round < 64; ++round) {
        AttemptId const minted = AttemptId::mint();
        std::string const text = minted.to_string();
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string_view("89ab").find(text[19]), std::string_view::npos) << text;
        EXPECT_TRUE(seen.insert(minted).second) << text;
    }
}

TEST(Ids, WordNew)
{
    struct Row {
        std::string_view text;
        bool is_new;
    };
    Row const rows[] = {
        { "new", true },  { "NEW", true },   { "nEw", true },   { "New", true },  { "new ", false },
        { " new", false }, { "newt", false }, { "renew", false }, { "ne", false }, { "", false },
    };
    for (auto const& row : rows)
        EXPECT_EQ(is_new_word(row.text), row.is_new) << '"' << row.text << '"';
}

TEST(Ids, MintOrParse)
{
    auto const fresh = mint_or_parse<CourseId>("nEW");
    ASSERT_TRUE(test_support::has_value(fresh));
    EXPECT_EQ(fresh->to_string()[14], '4');
    EXPECT_NE(*fresh, *mint_or_parse<CourseId>("new"));

    auto const parsed = mint_or_parse<TenantId>(canonical);
    ASSERT_TRUE(test_support::has_value(parsed));
    EXPECT_EQ(parsed->to_string(), canonical);

    EXPECT_EQ(test_support::error_text(mint_or_parse<IdentityId>("new ")),
              "invalid IdentityId identifier: " + quenmark::Uuid::parse("new ").error());
}

} // namespace

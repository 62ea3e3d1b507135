#pragma once

// The training records' enumerations. Each value has a stored name (its JSON
// string) and, where commands print it, a display name.

#include <array>
#include <cstdint>
#include <string_view>

namespace corvella {

enum class AssessmentStatus : std::uint8_t { Draft, Published, Retired };
enum class AssignmentReason : std::uint8_t { RoleRequirement, ManualAssignment, ComplianceControl, SecurityRemediation };
enum class AssignmentStatus : std::uint8_t { Assigned, InProgress, Completed, Cancelled };
enum class AttemptStatus : std::uint8_t { Passed, Failed };
enum class ScoreBand : std::uint8_t { Fail, Pass, Distinction };
enum class SafeFeedback : std::uint8_t { None, ReviewRecommended, AttemptLimitReached };

// Stored names in the order of the values, as the JSON readers expect them.
inline constexpr std::array<std::string_view, 3> assessment_status_names { "draft", "published", "retired" };
inline constexpr std::array<std::string_view, 4> assignment_reason_names {
    "role_requirement", "manual_assignment", "compliance_control", "security_remediation"
};
inline constexpr std::array<std::string_view, 4> assignment_status_names {
    "assigned", "in_progress", "completed", "cancelled"
};
inline constexpr std::array<std::string_view, 2> attempt_status_names { "passed", "failed" };
inline constexpr std::array<std::string_view, 3> score_band_names { "fail", "pass", "distinction" };
inline constexpr std::array<std::string_view, 3> safe_feedback_names {
    "none", "review_recommended", "attempt_limit_reached"
};

constexpr std::string_view stored_name(AssessmentStatus value) { return assessment_status_names[static_cast<std::size_t>(value)]; }
constexpr std::string_view stored_name(AssignmentReason value) { return assignment_reason_names[static_cast<std::size_t>(value)]; }
constexpr std::string_view stored_name(AssignmentStatus value) { return assignment_status_names[static_cast<std::size_t>(value)]; }
constexpr std::string_view stored_name(AttemptStatus value) { return attempt_status_names[static_cast<std::size_t>(value)]; }
constexpr std::string_view stored_name(ScoreBand value) { return score_band_names[static_cast<std::size_t>(value)]; }
constexpr std::string_view stored_name(SafeFeedback value) { return safe_feedback_names[static_cast<std::size_t>(value)]; }

// Display names as commands print them ("Published", "ReviewRecommended").
std::string_view display_name(AssessmentStatus value);
std::string_view display_name(AttemptStatus value);
std::string_view display_name(ScoreBand value);
std::string_view display_name(SafeFeedback value);

} // namespace corvella

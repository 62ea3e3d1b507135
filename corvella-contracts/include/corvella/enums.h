#pragma once

// The training records' enumerations. Each value has a stored name (its JSON
// string) and, where commands print it, a display name.

#include "quenmark/json/stored_name.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace corvella {

enum class AssessmentStatus : std::uint8_t { Draft, Published, Retired };
enum class AssignmentReason : std::uint8_t { RoleRequirement, ManualAssignment, ComplianceControl, SecurityRemediation };
enum class AssignmentStatus : std::uint8_t { Assigned, InProgress, Completed, Cancelled };
enum class AttemptStatus : std::uint8_t { Passed, Failed };
enum class ScoreBand : std::uint8_t { Fail, Pass, Distinction };
enum class SafeFeedback : std::uint8_t { None, ReviewRecommended, AttemptLimitReached };

// Stored names in the order of the values.
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

constexpr std::span<std::string_view const> stored_names(AssessmentStatus) { return assessment_status_names; }
constexpr std::span<std::string_view const> stored_names(AssignmentReason) { return assignment_reason_names; }
constexpr std::span<std::string_view const> stored_names(AssignmentStatus) { return assignment_status_names; }
constexpr std::span<std::string_view const> stored_names(AttemptStatus) { return attempt_status_names; }
constexpr std::span<std::string_view const> stored_names(ScoreBand) { return score_band_names; }
constexpr std::span<std::string_view const> stored_names(SafeFeedback) { return safe_feedback_names; }

using quenmark::stored_name;

// Display names as commands print them ("Published", "ReviewRecommended").
std::string_view display_name(AssessmentStatus value);
std::string_view display_name(AttemptStatus value);
std::string_view display_name(ScoreBand value);
std::string_view display_name(SafeFeedback value);

} // namespace corvella

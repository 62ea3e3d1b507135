#include "corvella/enums.h"

namespace corvella {

std::string_view display_name(AssessmentStatus value)
{
    switch (value) {
    case AssessmentStatus::Draft:
        return "Draft";
    case AssessmentStatus::Published:
        return "Published";
    case AssessmentStatus::Retired:
        return "Retired";
    }
    __builtin_unreachable();
}

std::string_view display_name(AttemptStatus value)
{
    switch (value) {
    case AttemptStatus::Passed:
        return "Passed";
    case AttemptStatus::Failed:
        return "Failed";
    }
    __builtin_unreachable();
}

std::string_view display_name(ScoreBand value)
{
    switch (value) {
    case ScoreBand::Fail:
        return "Fail";
    case ScoreBand::Pass:
        return "Pass";
    case ScoreBand::Distinction:
        return "Distinction";
    }
    __builtin_unreachable();
}

std::string_view display_name(SafeFeedback value)
{
    switch (value) {
    case SafeFeedback::None:
        return "None";
    case SafeFeedback::ReviewRecommended:
        return "ReviewRecommended";
    case SafeFeedback::AttemptLimitReached:
        return "AttemptLimitReached";
    }
    __builtin_unreachable();
}

} // namespace corvella

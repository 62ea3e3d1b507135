#pragma once

// Assertions on Expected results shared by the unit tests.

#include <gtest/gtest.h>

#include <string>

namespace test_support {

// Passes when the result holds a value; otherwise shows the error's text.
template<typename R>
::testing::AssertionResult has_value(R const& result)
{
    if (result.has_value())
        return ::testing::AssertionSuccess();
    if constexpr (requires { result.error().text(); })
        return ::testing::AssertionFailure() << "error: " << result.error().text();
    else if constexpr (requires { result.error().message; })
        return ::testing::AssertionFailure() << "error: " << result.error().message;
    else
        return ::testing::AssertionFailure() << "error: " << result.error();
}

// The text of the result's error, or "<value>" when it holds a value.
template<typename R>
std::string error_text(R const& result)
{
    if (result.has_value())
        return "<value>";
    if constexpr (requires { result.error().text(); })
        return std::string(result.error().text());
    else if constexpr (requires { result.error().message; })
        return result.error().message;
    else
        return std::string(result.error());
}

} // namespace test_support

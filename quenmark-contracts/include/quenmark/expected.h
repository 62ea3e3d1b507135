#pragma once

// A small result type with the interface of std::expected (GCC 12's library
// hides <expected> from clang, so both compilers get this one instead), the
// TRY early-return macro and must() for failures that cannot come from input.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quenmark {

template<typename E>
class Unexpected {
public:
    explicit constexpr Unexpected(E error) : m_error(std::move(error)) { }
    constexpr E& error() & { return m_error; }
    constexpr E const& error() const& { return m_error; }
    constexpr E&& error() && { return std::move(m_error); }

private:
    E m_error;
};

template<typename E>
[[nodiscard]] constexpr Unexpected<std::decay_t<E>> unexpected(E&& error)
{
    return Unexpected<std::decay_t<E>>(std::forward<E>(error));
}

template<typename T, typename E>
class [[nodiscard]] Expected {
public:
    using value_type = T;
    using error_type = E;

    constexpr Expected() requires std::is_default_constructible_v<T>
        : m_storage(std::in_place_index<0>)
    {
    }
    template<typename U = T>
        requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::decay_t<U>, Expected>
                 && !std::is_same_v<std::decay_t<U>, Unexpected<E>>)
    constexpr Expected(U&& value)
        : m_storage(std::in_place_index<0>, std::forward<U>(value))
    {
    }
    template<typename G>
    constexpr Expected(Unexpected<G> const& error)
        : m_storage(std::in_place_index<1>, error.error())
    {
    }
    template<typename G>
    constexpr Expected(Unexpected<G>&& error)
        : m_storage(std::in_place_index<1>, std::move(error).error())
    {
    }

    constexpr bool has_value() const { return m_storage.index() == 0; }
    constexpr explicit operator bool() const { return has_value(); }

    constexpr T& value() & { return std::get<0>(m_storage); }
    constexpr T const& value() const& { return std::get<0>(m_storage); }
    constexpr T&& value() && { return std::get<0>(std::move(m_storage)); }
    constexpr T& operator*() & { return value(); }
    constexpr T const& operator*() const& { return value(); }
    constexpr T&& operator*() && { return std::move(*this).value(); }
    constexpr T* operator->() { return &value(); }
    constexpr T const* operator->() const { return &value(); }

    constexpr E& error() & { return std::get<1>(m_storage); }
    constexpr E const& error() const& { return std::get<1>(m_storage); }
    constexpr E&& error() && { return std::get<1>(std::move(m_storage)); }

private:
    std::variant<T, E> m_storage;
};

template<typename E>
class [[nodiscard]] Expected<void, E> {
public:
    using value_type = void;
    using error_type = E;

    constexpr Expected() = default;
    template<typename G>
    constexpr Expected(Unexpected<G> const& error)
        : m_error(error.error())
    {
    }
    template<typename G>
    constexpr Expected(Unexpected<G>&& error)
        : m_error(std::move(error).error())
    {
    }

    constexpr bool has_value() const { return !m_error.has_value(); }
    constexpr explicit operator bool() const { return has_value(); }
    constexpr void value() const { }
    constexpr void operator*() const { }

    constexpr E& error() & { return *m_error; }
    constexpr E const& error() const& { return *m_error; }
    constexpr E&& error() && { return std::move(*m_error); }

private:
    // Empty on success, so error types need no default constructor.
    std::optional<E> m_error;
};

namespace detail {
template<typename T, typename E>
constexpr T unwrap_value(Expected<T, E>&& result)
{
    if constexpr (!std::is_void_v<T>)
        return std::move(result).value();
}
} // namespace detail

// Stops the process for a failure that no input can cause (the random source,
// the signing primitive). Only such failures may end the process outside main.
[[noreturn]] inline void fail_internal(std::string_view message)
{
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

} // namespace quenmark

// Evaluates an Expected; on failure returns its error from the enclosing
// function (converted to that function's error type), otherwise yields the
// value: `auto store = TRY(load_store(path));`. The temporary gets a unique
// name so TRY nests inside lambdas that are themselves inside a TRY.
#define QUENMARK_TRY_CONCAT_INNER(a, b) a##b
#define QUENMARK_TRY_CONCAT(a, b) QUENMARK_TRY_CONCAT_INNER(a, b)
#define TRY(expression) QUENMARK_TRY_IMPL(expression, QUENMARK_TRY_CONCAT(_try_result_, __COUNTER__))
#define QUENMARK_TRY_IMPL(expression, name)                                               \
    __extension__({                                                                       \
        auto name = (expression);                                                         \
        if (!name.has_value()) [[unlikely]]                                               \
            return ::quenmark::unexpected(std::move(name).error());                       \
        ::quenmark::detail::unwrap_value(std::move(name));                                \
    })

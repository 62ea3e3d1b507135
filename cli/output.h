#pragma once

// Result lines on standard output, report lines on standard error, and the
// joining of the parts of a line.

#include "context.h"

#include "quenmark/text/text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace corvellactl {

// Writes the text to standard output at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print(std::string_view text);

// Writes the text to standard error at once; Io when it cannot be written.
[[nodiscard]] CommandResult<void> print_to_stderr(std::string_view text);

// Appends each part in turn: text and characters as they stand, an unsigned
// number in decimal, an identifier or an instant in its text form.
template<typename... Parts>
void append_parts(std::string& out, Parts const&... parts)
{
    auto const append_part = [&out]<typename Part>(Part const& part) {
        if constexpr (std::is_same_v<Part, char>)
            out.push_back(part);
        else if constexpr (std::is_unsigned_v<Part>)
            quenmark::append_decimal(out, std::uint64_t { part });
        else if constexpr (requires { part.append_to(out); })
            part.append_to(out);
        else if constexpr (requires { part.append_text(out); })
            part.append_text(out);
        else
            out.append(part);
    };
    (append_part(parts), ...);
}

// The parts joined as append_parts() writes them.
template<typename... Parts>
std::string concat(Parts const&... parts)
{
    std::string out;
    append_parts(out, parts...);
    return out;
}

} // namespace corvellactl

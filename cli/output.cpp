#include "output.h"

#include <cerrno>
#include <cstdio>

namespace corvellactl {
namespace {

CommandResult<void> write_now(std::FILE* stream, std::string_view text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0)
        return quenmark::unexpected(CommandError::io(errno != 0 ? errno : EIO));
    return {};
}

} // namespace

CommandResult<void> print(std::string_view text) { return write_now(stdout, text); }

CommandResult<void> print_to_stderr(std::string_view text) { return write_now(stderr, text); }

} // namespace corvellactl

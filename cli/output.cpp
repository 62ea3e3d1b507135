#include "output.h"

#include <cerrno>
#include <cstdio>

namespace corvellactl {

CommandResult<void> print(std::string_view text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return quenmark::unexpected(CommandError::io(errno != 0 ? errno : EIO));
    return {};
}

} // namespace corvellactl

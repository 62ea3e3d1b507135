#include "commands/commands.h"

namespace corvellactl {

CommandError not_implemented() { return CommandError::message("command not implemented yet"); }

} // namespace corvellactl

#pragma once

// The seam through which tests make the file layer's system calls fail. The
// program never sets a hook; tests link against the file layer and set one to
// fail, say, the third write with "No space left on device".

#include <cstdint>

namespace corvellactl {

// The kinds of system call the file layer makes on the data files.
enum class FileOperation : std::uint8_t {
    Open,   // opening a file or directory, or creating a temporary file
    Read,   // reading a file's bytes
    Write,  // writing bytes to a temporary file
    Flush,  // flushing a file or directory to disk
    Rename, // putting a file in place: rename, or link for exclusive creation
};

// Called before each operation; a non-zero result is the errno value the
// operation then fails with, and zero lets it run.
using FaultHook = int (*)(FileOperation operation);

// Installs the hook (nullptr removes it). Not thread-safe: tests set it
// between commands.
void set_fault_hook(FaultHook hook);

} // namespace corvellactl

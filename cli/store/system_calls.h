#pragma once

// What the file layer's jobs share: the owner of an open descriptor, and the
// system calls on the data files, each of which a test can make fail through
// a seam. The program never sets a hook; tests link against the file layer
// and set one to fail, say, the third write with "No space left on device".

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace corvellactl {

// Owns an open file descriptor and closes it when it goes out of scope.
class Descriptor {
public:
    // Takes the result of an open() call; a negative value holds nothing.
    explicit Descriptor(int descriptor = -1) : m_descriptor(descriptor) { }
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;
    ~Descriptor();

    bool is_open() const { return m_descriptor >= 0; }
    int get() const { return m_descriptor; }
    // Closes now and reports the result, which carries delayed write errors;
    // errno tells why on failure.
    [[nodiscard]] bool close();

private:
    int m_descriptor;
};

// The system calls that go through the test seam; each fails as the real
// call would, with -1 and errno. make_temporary() is mkostemp() on the
// pattern, flush_to_disk() is fsync().
int open_file(char const* path, int flags, mode_t mode = 0);
int make_temporary(std::string& pattern);
ssize_t read_some(int descriptor, char* buffer, std::size_t size);
ssize_t write_some(int descriptor, char const* bytes, std::size_t size);
int flush_to_disk(int descriptor);
int rename_file(char const* from, char const* to);
// Follows a symbolic link at `existing`, so that a file open without a name
// can be linked through /proc.
int link_file(char const* existing, char const* name);
int remove_file(char const* path);

// The kinds of system call the file layer makes on the data files.
enum class FileOperation : std::uint8_t {
    Open,   // opening a file or directory, or creating a temporary file
    Read,   // reading a file's bytes
    Write,  // writing bytes to a temporary file
    Flush,  // flushing a file or directory to disk
    Rename, // putting a file in place: rename, or link for exclusive creation
    Remove, // removing the temporary name of a file linked into place
};

// Called before each operation; a non-zero result is the errno value the
// operation then fails with, and zero lets it run.
using FaultHook = int (*)(FileOperation operation);

// Installs the hook (nullptr removes it). Not thread-safe: tests set it
// between commands.
void set_fault_hook(FaultHook hook);

} // namespace corvellactl

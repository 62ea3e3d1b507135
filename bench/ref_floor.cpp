// ref_floor: what the machine must do for a command's work, whatever the
// program: the floors the commands are measured against.
//
//   ref_floor read  STATE_FILE AUDIT_FILE           read both files
//   ref_floor parse STATE_FILE AUDIT_FILE           read both, and have
//                                                   simdjson validate them
//   ref_floor write STATE_FILE AUDIT_FILE OUT_DIR   read both, write their
//                                                   bytes to new files, fsync,
//                                                   rename over older copies
//
// "read" reads each file through one reused buffer, as cat does; "parse"
// maps each with zeroed padding after it, as the tool does, and parses it
// into a DOM document, which validates every byte without building anything
// of the tool's; "write" reads each file through one reused buffer of 1 MiB
// and writes it to a temporary file in OUT_DIR, flushes it and renames it
// over a file of the same name, as the tool replaces its files. It writes in
// pieces of 256 KiB, as the tool does: for a bigger write the kernel takes
// bigger blocks of memory for the cache, which cost more where the host of
// a virtual machine takes back free memory. Not from a mapping: a write from
// pages not yet mapped stops at each, and the kernel zeroes the rest of the
// cache block it took before it goes on (most of the time in a profile).
// Linked with the tool's allocator and its options, so that both sides pay
// the same for fresh memory. Prints "seconds <elapsed>" for the whole work.

#include "bench_support.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view program = "ref_floor";

bool read_through(std::string const& path)
{
    int const descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    std::vector<char> buffer(std::size_t { 1 } << 20U);
    ssize_t count = 0;
    while ((count = ::read(descriptor, buffer.data(), buffer.size())) > 0) { }
    ::close(descriptor);
    return count == 0;
}

// Copies `source` to a temporary file beside `path` through one reused
// buffer, flushes it and renames it over `path`.
bool replace_with_copy(std::string const& source, std::string const& path)
{
    int const input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0)
        return false;
    std::string const temporary = path + ".tmp";
    int const descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        ::close(input);
        return false;
    }
    std::vector<char> buffer(std::size_t { 1 } << 20U);
    constexpr std::size_t piece_size = std::size_t { 256 } << 10U;
    bool ok = true;
    ssize_t count = 0;
    while (ok && (count = ::read(input, buffer.data(), buffer.size())) > 0) {
        for (std::string_view bytes(buffer.data(), static_cast<std::size_t>(count)); ok && !bytes.empty();) {
            ssize_t const written = ::write(descriptor, bytes.data(), std::min(bytes.size(), piece_size));
            ok = written > 0;
            if (ok)
                bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    ::close(input);
    ok = ok && count == 0 && ::fsync(descriptor) == 0;
    ok = ::close(descriptor) == 0 && ok;
    return ok && ::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> const arguments(argv + 1, argv + argc);
    std::string_view const mode = arguments.empty() ? "" : arguments[0];
    if (!((arguments.size() == 3 && (mode == "read" || mode == "parse")) || (arguments.size() == 4 && mode == "write"))) {
        std::fprintf(stderr, "usage: ref_floor read|parse STATE_FILE AUDIT_FILE | write STATE_FILE AUDIT_FILE OUT_DIR\n");
        return 2;
    }
    auto const start = std::chrono::steady_clock::now();
    for (std::size_t index = 1; index <= 2; ++index) {
        std::string const path(arguments[index]);
        if (mode == "read") {
            if (!read_through(path))
                return corvella_bench::fail(program, "cannot read " + path);
            continue;
        }
        if (mode == "write") {
            std::string const name = path.substr(path.find_last_of('/') + 1);
            if (!replace_with_copy(path, std::string(arguments[3]) + "/" + name))
                return corvella_bench::fail(program, "cannot write " + name + ": " + std::strerror(errno));
            continue;
        }
        int const descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (descriptor < 0 || ::fstat(descriptor, &status) != 0)
            return corvella_bench::fail(program, "cannot read " + path);
        auto const size = static_cast<std::size_t>(status.st_size);
        auto const page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::size_t const length = (size + simdjson::SIMDJSON_PADDING + page - 1) / page * page;
        // Zero pages, the file's own over their start (the tool's reading).
        void* const pages = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        bool const mapped = pages != MAP_FAILED
                            && (size == 0
                                || ::mmap(pages, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, descriptor, 0) != MAP_FAILED);
        ::close(descriptor);
        if (!mapped)
            return corvella_bench::fail(program, "cannot map " + path);
        simdjson::dom::parser parser;
        if (parser.parse(static_cast<char const*>(pages), size, /*realloc_if_needed=*/false).error())
            return corvella_bench::fail(program, path + " is not JSON");
    }
    std::chrono::duration<double> const elapsed = std::chrono::steady_clock::now() - start;
    std::printf("seconds %.6f\n", elapsed.count());
    return 0;
}

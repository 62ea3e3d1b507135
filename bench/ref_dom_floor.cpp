// ref_dom_floor: the floor of a command that reads the state file and the
// audit chain and writes both back.
//
//   ref_dom_floor STATE_FILE AUDIT_FILE OUT_DIR [--no-fsync]
//
// Parses both files into simdjson DOM documents (both kept alive), then
// writes as many bytes as each file holds to two new files in OUT_DIR, each
// with one write and, unless --no-fsync is given, an fsync (the tool flushes
// every file it replaces). Prints "seconds <elapsed>" for the whole work and
// the number of bytes written.

#include "bench_support.h"

#include <simdjson.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::string_view program = "ref_dom_floor";

bool write_new_file(std::string const& path, char const* data, std::size_t size, bool flush)
{
    // A new file each time: truncating one that holds data would add the
    // file system's flush-on-truncate work, which the tool never pays.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return false;
    int const descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return false;
    bool ok = true;
    while (ok && size > 0) {
        ssize_t const written = ::write(descriptor, data, size);
        ok = written > 0;
        if (ok) {
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }
    if (ok && flush)
        ok = ::fsync(descriptor) == 0;
    return ::close(descriptor) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "--no-fsync") == 0))
        return corvella_bench::fail(program, "usage: ref_dom_floor STATE_FILE AUDIT_FILE OUT_DIR [--no-fsync]");
    bool const flush = argc == 4;
    std::string const out_directory = argv[3];

    corvella_bench::Stopwatch const stopwatch;
    simdjson::padded_string state_text;
    simdjson::padded_string chain_text;
    if (simdjson::padded_string::load(argv[1]).get(state_text) != simdjson::SUCCESS
        || simdjson::padded_string::load(argv[2]).get(chain_text) != simdjson::SUCCESS)
        return corvella_bench::fail(program, "cannot read the input files");
    simdjson::dom::parser state_parser;
    simdjson::dom::parser chain_parser;
    simdjson::dom::element state;
    simdjson::dom::element chain;
    if (state_parser.parse(state_text).get(state) != simdjson::SUCCESS
        || chain_parser.parse(chain_text).get(chain) != simdjson::SUCCESS)
        return corvella_bench::fail(program, "an input file is not JSON");
    if (!write_new_file(out_directory + "/floor-state.json", state_text.data(), state_text.size(), flush)
        || !write_new_file(out_directory + "/floor-audit.json", chain_text.data(), chain_text.size(), flush))
        return corvella_bench::fail(program, "cannot write the output files");
    double const elapsed = stopwatch.seconds();

    corvella_bench::print_seconds(elapsed);
    std::printf("bytes %zu\n", state_text.size() + chain_text.size());
    return state.is_object() && chain.is_array() ? 0 : 1;
}

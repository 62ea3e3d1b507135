// state_io: throughput of loading and saving a state file next to a plain
// read and write of the same bytes, measured in the same run.
//
//   state_io STATE_FILE [ROUNDS]
//
// Each round: a plain read of the whole file and a plain write of it to a
// scratch file beside it; then load_store (read, parse, build the records)
// and save_store (serialise, write, flush, rename) to another scratch file.
// Prints the best round of each as MB/s and the ratio of the tool's figures
// to the plain ones. The scratch files are removed at the end.

#include "bench_support.h"

#include "store/state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double megabytes_per_second(std::size_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return corvella_bench::fail("state_io", "usage: state_io STATE_FILE [ROUNDS]");
    std::string const path = argv[1];
    int const rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 3;
    std::string const plain_copy = path + ".plain-copy";
    std::string const saved_copy = path + ".saved-copy";

    double best_read = 1e30, best_write = 1e30, best_load = 1e30, best_save = 1e30;
    std::size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        corvella_bench::Stopwatch const read_watch;
        auto const content = corvella_bench::read_whole_file(path);
        best_read = std::min(best_read, read_watch.seconds());
        if (!content)
            return corvella_bench::fail("state_io", "cannot read " + path);
        bytes = content->size();
        corvella_bench::Stopwatch const write_watch;
        if (!corvella_bench::write_whole_file(plain_copy, *content))
            return corvella_bench::fail("state_io", "cannot write " + plain_copy);
        best_write = std::min(best_write, write_watch.seconds());

        corvella_bench::Stopwatch const load_watch;
        auto const store = corvellactl::load_store(path);
        best_load = std::min(best_load, load_watch.seconds());
        if (!store)
            return corvella_bench::fail("state_io", store.error().text());
        corvella_bench::Stopwatch const save_watch;
        if (auto const saved = corvellactl::save_store(saved_copy, *store); !saved)
            return corvella_bench::fail("state_io", saved.error().text());
        best_save = std::min(best_save, save_watch.seconds());
    }
    std::remove(plain_copy.c_str());
    std::remove(saved_copy.c_str());

    std::printf("state file      : %.1f MB, best of %d rounds\n", static_cast<double>(bytes) / 1e6, rounds);
    std::printf("plain read      : %8.1f MB/s\n", megabytes_per_second(bytes, best_read));
    std::printf("load_store      : %8.1f MB/s (%.2fx the plain read's time)\n", megabytes_per_second(bytes, best_load),
                best_load / best_read);
    std::printf("plain write     : %8.1f MB/s\n", megabytes_per_second(bytes, best_write));
    std::printf("save_store      : %8.1f MB/s (%.2fx the plain write's time)\n", megabytes_per_second(bytes, best_save),
                best_save / best_write);
    return 0;
}

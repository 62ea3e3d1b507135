// load_state: times the tool's own typed load of a state file (load_store:
// read, parse, build the records), the counterpart of ref_nlohmann_load.
//
//   load_state STATE_FILE
//
// Prints "seconds <elapsed>" and the number of records loaded.

#include "bench_support.h"

#include "store/state.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return corvella_bench::fail("load_state", "usage: load_state STATE_FILE");
    std::string const path = argv[1];
    corvella_bench::Stopwatch const stopwatch;
    auto const store = corvellactl::load_store(path);
    double const elapsed = stopwatch.seconds();
    if (!store)
        return corvella_bench::fail("load_state", store.error().text());
    corvella_bench::print_seconds(elapsed);
    std::printf("records %zu\n", store->assessments.size() + store->assignments.size() + store->attempts.size()
                    + store->completions.size() + store->certificates.size());
    return 0;
}

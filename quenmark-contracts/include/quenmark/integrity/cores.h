#pragma once

// Sharing the machine's cores between a program's own long-running threads
// and the library's parallel work.

#include <cstddef>

namespace quenmark {

// While it lives, one thread of the program counts as busy with long work of
// its own: the library's parallel work (signing or checking many signatures)
// starts one thread fewer meanwhile, so that it leaves that thread its core
// instead of taking turns on it. The results are the same either way.
class BusyThread {
public:
    BusyThread();
    ~BusyThread();
    BusyThread(BusyThread const&) = delete;
    BusyThread& operator=(BusyThread const&) = delete;
};

// How many threads count as busy now.
[[nodiscard]] std::size_t busy_threads();

} // namespace quenmark

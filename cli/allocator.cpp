// The program's allocator options. corvellactl links jemalloc; jemalloc reads
// this symbol once, before the first allocation. A command on a large data set
// holds hundreds of megabytes of records, file text and parser indexes.
//
// Transparent huge pages are deliberately not requested: measured on the
// 412 MB state file of the scale benchmark, advising them ("thp:always")
// made loading bimodal, 0.74 s at best but 1.9 to 3.1 s whenever the kernel
// compacted memory to find huge pages during the page faults, while jemalloc's
// own defaults load in a steady 0.92 s (BENCHMARKS.md). Sanitizer builds link
// their own allocator, which never reads the symbol.

extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): jemalloc's interface
char const* malloc_conf = "thp:always,metadata_thp:disabled";
}

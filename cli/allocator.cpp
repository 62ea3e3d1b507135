// The program's allocator options. corvellactl links jemalloc; jemalloc reads
// this symbol once, before the first allocation. A command on a large data set
// holds hundreds of megabytes of records, file text and parser indexes, and
// the first touch of fresh memory is then its largest single cost: with
// transparent huge pages that is one page fault per 2 MiB instead of one per
// 4 KiB, for the many small record allocations as much as for the large
// blocks. Where the system offers no huge pages the advice is ignored.
// Sanitizer builds link their own allocator, which never reads the symbol.

extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): jemalloc's interface
char const* malloc_conf = "thp:always,metadata_thp:always";
}

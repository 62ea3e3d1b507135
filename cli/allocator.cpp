// The program's allocator options. corvellactl links jemalloc; jemalloc reads
// this symbol once, before the first allocation. A command on a large data set
// holds hundreds of megabytes of records, file text and parser indexes.
//
// jemalloc's own defaults: no transparent huge pages are asked for. They were
// asked for while the data files were mapped and fresh pages were the largest
// cost of loading, and stopped paying once the files were streamed through a
// reused buffer. A huge page comes from a free 2 MiB block, which is the kind
// a virtual machine's balloon hands back to its host, so on such machines
// nearly every one is faulted in again by the host, where small pages are
// often ones a process freed moments before. Side by side on the 100k set of
// the scale benchmark (BENCHMARKS.md), `assign` took 0.87 s with small pages
// and 1.67 s with huge ones, `batch attempt` 1.06 against 1.85 s, `doctor`
// 2.40 against 3.05 s, and no command was faster with huge pages.
// Sanitizer builds link their own allocator, which never reads the symbol.

extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): jemalloc's interface
char const* malloc_conf = "thp:default,metadata_thp:disabled";
}

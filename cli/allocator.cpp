// The program's allocator options. corvellactl links jemalloc; jemalloc reads
// this symbol once, before the first allocation. A command on a large data set
// holds hundreds of megabytes of records, file text and parser indexes.
//
// Transparent huge pages are requested for the records: with the data files
// mapped rather than copied, faulting in fresh pages one by one had become
// the largest cost of loading. Measured on the 418 MB state file of the
// scale benchmark, `report readiness` took 1.5 to 1.85 s with jemalloc's
// defaults and 0.8 to 1.2 s with huge pages (BENCHMARKS.md). Earlier, when
// the file was still copied, huge pages made loading bimodal whenever the
// kernel compacted memory during the faults; the benchmark keeps `verify`
// under the earlier options beside it to show that it no longer is.
// Sanitizer builds link their own allocator, which never reads the symbol.

extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): jemalloc's interface
char const* malloc_conf = "thp:always,metadata_thp:disabled";
}

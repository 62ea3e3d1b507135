#include "quenmark/integrity/cores.h"

#include <atomic>

namespace quenmark {
namespace {

std::atomic<std::size_t> busy { 0 };

} // namespace

BusyThread::BusyThread() { busy.fetch_add(1, std::memory_order_relaxed); }

BusyThread::~BusyThread() { busy.fetch_sub(1, std::memory_order_relaxed); }

std::size_t busy_threads() { return busy.load(std::memory_order_relaxed); }

} // namespace quenmark

// The program's replacement of the global allocation functions.
//
// A command on a large data set holds a few big blocks: the file it read, the
// JSON parser's indexes, the vectors of records and the text it writes. Fresh
// memory costs one page fault per 4 KiB page when first touched, and at
// hundreds of megabytes those faults are the largest single cost of a
// command. Blocks of large_block_size or more are therefore mapped directly,
// aligned to and marked for transparent huge pages, which take one fault per
// 2 MiB instead. Where the system does not provide huge pages the advice is
// ignored and the block is an ordinary mapping, as the C library's own large
// blocks are. Everything smaller goes to malloc.
//
// The mapped blocks are kept in a small table, so that a pointer being freed
// is recognised by its address alone; an address outside the range the table
// covers (every small block on the heap) is decided with two loads.

#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t huge_page_size = std::size_t { 2 } << 20U;
constexpr std::size_t large_block_size = std::size_t { 4 } << 20U;
constexpr std::size_t table_size = 64;

struct Mapping {
    std::uintptr_t address { 0 };
    std::size_t length { 0 };
};

class LargeBlocks {
public:
    // The block's address, or null when it cannot be mapped or recorded (the
    // caller then falls back to malloc).
    void* allocate(std::size_t size) noexcept
    {
        if (size > SIZE_MAX - 2 * huge_page_size)
            return nullptr;
        std::size_t const length = round_up(size, huge_page_size);
        // Mapping one huge page more leaves room to start on a huge-page
        // boundary; the unused head and tail are given back at once.
        std::size_t const mapped = length + huge_page_size;
        void* const region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED)
            return nullptr;
        auto const start = reinterpret_cast<std::uintptr_t>(region);
        std::uintptr_t const aligned = round_up(start, huge_page_size);
        if (aligned != start)
            munmap(region, aligned - start);
        if (std::size_t const tail = start + mapped - (aligned + length); tail != 0)
            munmap(reinterpret_cast<void*>(aligned + length), tail);
        auto* const block = reinterpret_cast<void*>(aligned);
        madvise(block, length, MADV_HUGEPAGE);
        if (!record(Mapping { aligned, length })) {
            munmap(block, length);
            return nullptr;
        }
        return block;
    }

    // Unmaps the block when it is one of the table's; false otherwise.
    bool release(void* pointer) noexcept
    {
        auto const address = reinterpret_cast<std::uintptr_t>(pointer);
        if (address < m_lowest.load(std::memory_order_acquire) || address >= m_highest.load(std::memory_order_acquire))
            return false;
        std::size_t length = 0;
        {
            std::lock_guard const lock(m_mutex);
            for (auto& mapping : m_mappings) {
                if (mapping.address == address) {
                    length = mapping.length;
                    mapping = Mapping {};
                    break;
                }
            }
        }
        if (length == 0)
            return false;
        munmap(pointer, length);
        return true;
    }

private:
    static constexpr std::size_t round_up(std::size_t value, std::size_t unit) { return (value + unit - 1) & ~(unit - 1); }

    bool record(Mapping mapping) noexcept
    {
        std::lock_guard const lock(m_mutex);
        for (auto& slot : m_mappings) {
            if (slot.length == 0) {
                slot = mapping;
                // The range only widens, so a block is inside it before its
                // address can reach any thread that frees it.
                if (mapping.address < m_lowest.load(std::memory_order_relaxed))
                    m_lowest.store(mapping.address, std::memory_order_release);
                if (mapping.address + 1 > m_highest.load(std::memory_order_relaxed))
                    m_highest.store(mapping.address + 1, std::memory_order_release);
                return true;
            }
        }
        return false;
    }

    std::mutex m_mutex;
    std::array<Mapping, table_size> m_mappings {};
    std::atomic<std::uintptr_t> m_lowest { UINTPTR_MAX };
    std::atomic<std::uintptr_t> m_highest { 0 };
};

// Constant-initialised, so it is usable by allocations made before any
// dynamic initialiser runs, and never destroyed.
constinit LargeBlocks large_blocks;

void* allocate(std::size_t size) noexcept
{
    if (size >= large_block_size) {
        if (void* const block = large_blocks.allocate(size))
            return block;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocate_or_throw(std::size_t size)
{
    for (;;) {
        if (void* const block = allocate(size))
            return block;
        std::new_handler const handler = std::get_new_handler();
        if (handler == nullptr)
            throw std::bad_alloc();
        handler();
    }
}

void* allocate_or_null(std::size_t size) noexcept
{
    try {
        return allocate_or_throw(size);
    } catch (...) {
        return nullptr;
    }
}

void release(void* pointer) noexcept
{
    if (pointer == nullptr)
        return;
    if (!large_blocks.release(pointer))
        std::free(pointer);
}

} // namespace

void* operator new(std::size_t size) { return allocate_or_throw(size); }
void* operator new[](std::size_t size) { return allocate_or_throw(size); }
void* operator new(std::size_t size, std::nothrow_t const&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept { return allocate_or_null(size); }

void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::nothrow_t const&) noexcept { release(pointer); }
void operator delete[](void* pointer, std::nothrow_t const&) noexcept { release(pointer); }

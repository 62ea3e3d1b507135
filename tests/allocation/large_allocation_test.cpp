// The program's allocation functions, linked into this test as into the
// program: large blocks are mapped on huge-page boundaries and unmapped when
// freed, everything else goes to malloc, and every block is usable and freed
// whichever thread frees it.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t mebibyte = std::size_t { 1 } << 20U;
constexpr std::size_t huge_page = 2 * mebibyte;

bool is_mapped(std::uintptr_t address)
{
    unsigned char resident = 0;
    auto const page = address & ~(static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
    return mincore(reinterpret_cast<void*>(page), 1, &resident) == 0 || errno != ENOMEM;
}

// Fills the block with a pattern that depends on the position and checks it.
void fill_and_check(unsigned char* block, std::size_t size)
{
    for (std::size_t index = 0; index < size; ++index)
        block[index] = static_cast<unsigned char>(index * 7 + 3);
    for (std::size_t index = 0; index < size; index += 4093)
        ASSERT_EQ(block[index], static_cast<unsigned char>(index * 7 + 3)) << index;
    ASSERT_EQ(block[size - 1], static_cast<unsigned char>((size - 1) * 7 + 3));
}

TEST(LargeAllocation, BlocksOfEverySizeAreUsable)
{
    for (std::size_t const size : { std::size_t { 1 }, std::size_t { 4096 }, 4 * mebibyte - 1, 4 * mebibyte,
                                    4 * mebibyte + 1, 9 * mebibyte + 12345, 64 * mebibyte }) {
        SCOPED_TRACE(size);
        auto* const block = new unsigned char[size];
        fill_and_check(block, size);
        delete[] block;
    }
}

TEST(LargeAllocation, LargeBlocksStartOnHugePagesAndAreUnmappedWhenFreed)
{
    auto* const block = new unsigned char[5 * mebibyte];
    auto const address = reinterpret_cast<std::uintptr_t>(block);
    EXPECT_EQ(address % huge_page, 0U);
    block[0] = 1;
    ASSERT_TRUE(is_mapped(address));
    delete[] block;
    EXPECT_FALSE(is_mapped(address));
}

TEST(LargeAllocation, MoreLargeBlocksThanTheTableHoldsFallBackToMalloc)
{
    std::vector<unsigned char*> blocks;
    for (int count = 0; count < 100; ++count) {
        blocks.push_back(new unsigned char[4 * mebibyte]);
        blocks.back()[0] = static_cast<unsigned char>(count);
        blocks.back()[4 * mebibyte - 1] = static_cast<unsigned char>(count);
    }
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        EXPECT_EQ(blocks[index][0], static_cast<unsigned char>(index));
        EXPECT_EQ(blocks[index][4 * mebibyte - 1], static_cast<unsigned char>(index));
        delete[] blocks[index];
    }
    // The table's slots are free again.
    auto* const again = new unsigned char[4 * mebibyte];
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(again) % huge_page, 0U);
    delete[] again;
}

TEST(LargeAllocation, GrowingVectorKeepsItsElements)
{
    std::vector<std::uint64_t> values;
    for (std::uint64_t value = 0; value < 20'000'000; ++value)
        values.push_back(value);
    EXPECT_EQ(std::accumulate(values.begin(), values.end(), std::uint64_t { 0 }), 19'999'999ULL * 20'000'000ULL / 2);
}

TEST(LargeAllocation, ImpossibleSizesFailAsTheStandardSays)
{
    // Read through a volatile so that the compiler cannot see the size.
    std::size_t volatile const unknown = std::numeric_limits<std::size_t>::max() - 4096;
    std::size_t const impossible = unknown;
    EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](impossible, std::nothrow), nullptr);
    EXPECT_THROW((void)::operator new(impossible), std::bad_alloc);
}

TEST(LargeAllocation, BlocksAreFreedByOtherThreads)
{
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    for (int count = 0; count < 16; ++count)
        blocks.emplace_back(new unsigned char[(count % 2 == 0 ? 6 : 1) * mebibyte]);
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.emplace_back([&blocks, worker] {
            for (std::size_t index = static_cast<std::size_t>(worker); index < blocks.size(); index += 4)
                blocks[index].reset();
            // Allocation and freeing at the same time as the other threads.
            for (int round = 0; round < 50; ++round) {
                auto const block = std::make_unique<unsigned char[]>(4 * mebibyte + static_cast<std::size_t>(round));
                block[static_cast<std::size_t>(round)] = 1;
                auto const small = std::make_unique<int>(round);
                ASSERT_EQ(*small, round);
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    for (auto const& block : blocks)
        EXPECT_EQ(block, nullptr);
}

} // namespace

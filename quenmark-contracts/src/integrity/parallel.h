#pragma once

// Spreading independent pieces of work over the machine's cores: a queue that
// one thread fills while others take from it, and a set of worker threads
// joined when it goes out of scope. Internal to the platform library.

#include "quenmark/integrity/cores.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace quenmark::detail {

// Threads worth using besides the caller for `pieces` independent pieces of
// work: one per further core that no busy thread of the program holds
// (BusyThread), never more than there are pieces beyond the caller's first.
inline std::size_t extra_threads_for(std::size_t pieces)
{
    std::size_t const cores = std::max(1U, std::thread::hardware_concurrency());
    std::size_t const free_cores = cores - std::min(cores - 1, busy_threads());
    if (pieces <= 1)
        return 0;
    return std::min(free_cores - 1, pieces - 1);
}

// A first-in, first-out queue shared by one producer and any number of
// consumers. pop() waits for an item and returns nothing once the queue is
// closed and empty.
template<typename T>
class WorkQueue {
public:
    void push(T item)
    {
        {
            std::lock_guard const lock(m_mutex);
            m_items.push_back(std::move(item));
        }
        m_ready.notify_one();
    }

    // No further items will come; waiting consumers are released.
    void close()
    {
        {
            std::lock_guard const lock(m_mutex);
            m_closed = true;
        }
        m_ready.notify_all();
    }

    // The first item, without waiting, when the queue holds at least
    // `count` items; nothing otherwise.
    std::optional<T> try_pop(std::size_t count = 1)
    {
        std::lock_guard const lock(m_mutex);
        if (m_items.empty() || m_items.size() < count)
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }

    std::optional<T> pop()
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_closed || !m_items.empty(); });
        if (m_items.empty())
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<T> m_items;
    bool m_closed { false };
};

// Runs `work` on up to `count` threads and joins them all on destruction, so
// nothing they use can go away while they run. The caller must arrange that
// `work` returns (for example by closing the queue it takes from) before the
// set is destroyed.
class WorkerThreads {
public:
    WorkerThreads(std::size_t count, std::function<void()> const& work)
    {
        m_threads.reserve(count);
        for (std::size_t index = 0; index < count; ++index) {
            // A thread the system refuses to start is simply not used: the
            // caller works through the queue as well, so fewer threads only
            // make the work slower.
            try {
                m_threads.emplace_back(work);
            } catch (std::system_error const&) {
                break;
            }
        }
    }

    WorkerThreads(WorkerThreads const&) = delete;
    WorkerThreads& operator=(WorkerThreads const&) = delete;

    ~WorkerThreads()
    {
        for (std::thread& thread : m_threads)
            thread.join();
    }

private:
    std::vector<std::thread> m_threads;
};

} // namespace quenmark::detail

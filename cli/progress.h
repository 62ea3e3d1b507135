#pragma once

// A progress line for the work that can take a while: verifying a long
// audit chain and loading a big state file. It is drawn on standard error
// only when that is a terminal and the input is big, redrawn in place a few
// times a second, and erased when the work ends, so that pipes, files and
// scripts see exactly the bytes they would see without it. The store tells
// its progress through a callback; the line is what the commands make of it.

#include "store/chain_file.h"
#include "store/state.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvellactl {

// Inputs smaller than this are read too quickly to be worth a line.
inline constexpr std::size_t progress_minimum_bytes = std::size_t { 16 } << 20U;

// Turns progress lines on for this process, drawn on `descriptor`, when it is
// a terminal. Only main() calls it, for standard error: tests and benchmarks
// that call the file layer in-process never draw a line.
void enable_progress_on_terminal(int descriptor);

// How a progress line is drawn: where, from what size on, how often, and the
// clock it reads. The defaults are the program's; tests choose their own.
struct ProgressSettings {
    int descriptor { -1 };
    std::size_t minimum_bytes { progress_minimum_bytes };
    std::chrono::milliseconds interval { 250 };
    // Columns of the terminal; 0 asks the terminal itself.
    std::size_t columns { 0 };
    std::function<std::chrono::steady_clock::time_point()> now { [] { return std::chrono::steady_clock::now(); } };
};

// The line of one piece of work: "<task>: <done> of ~<total> <unit>
// (<percent>%), <rate> <unit>/s". The total is estimated from how far into
// the input the work has come, since only the size of the input is known
// beforehand. The first line, drawn as soon as that size is known, names the
// task and the size; the line is erased when the work finishes or the value
// goes away. It is the store's Progress: a command hands it to the store.
class ProgressLine final : public Progress {
public:
    // A line on the descriptor enable_progress_on_terminal() accepted, or an
    // inactive one that draws nothing. Given the input's size it starts at
    // once; otherwise started() gives the size.
    ProgressLine(std::string_view task, std::string_view unit, std::size_t total_bytes = 0);
    ProgressLine(std::string_view task, std::string_view unit, std::size_t total_bytes, ProgressSettings settings);
    ProgressLine(ProgressLine const&) = delete;
    ProgressLine& operator=(ProgressLine const&) = delete;
    ~ProgressLine();

    // Whether anything is drawn.
    bool active() const { return m_active; }

    // The input is `total_bytes` long: draws the first line when it is big.
    void started(std::size_t total_bytes) override;

    // `done` items handled, `bytes` of the input behind them. Redraws only
    // when the interval has passed since the last drawing; the first call
    // only starts the count the rate is measured from.
    void advanced(std::size_t done, std::size_t bytes) override
    {
        if (m_active)
            redraw_if_due(done, bytes);
    }

    // Erases the line now (the destructor does nothing more afterwards).
    void finished() override;

private:
    void redraw_if_due(std::size_t done, std::size_t bytes);
    void draw(std::string text);

    ProgressSettings m_settings;
    std::string m_task;
    std::string m_unit;
    std::size_t m_total_bytes { 0 };
    bool m_active { false };
    bool m_drawn { false };
    std::chrono::steady_clock::time_point m_last_drawn;
    // The rate counts from the first update, once reading the input has
    // given way to the work itself.
    bool m_counting { false };
    std::chrono::steady_clock::time_point m_counting_since;
    std::size_t m_done_before { 0 };
};

// What the commands call to load the state file and to verify the audit
// chain: the store's functions, with their progress drawn as a line.
[[nodiscard]] CommandResult<Store> load_store_with_progress(std::string const& path, StoreUse const& use = {});
[[nodiscard]] CommandResult<VerifiedChain> verify_chain_with_progress(std::string const& path,
                                                                      quenmark::VerifyingKey const& key,
                                                                      quenmark::ChainQuery const& query = {});

} // namespace corvellactl

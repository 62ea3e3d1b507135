// Runs a fuzz target without libFuzzer: feeds it every file under the paths
// given (files or folders, in name order), so the normal builds check each
// target's properties on its seed corpus. A property that fails traps; the
// input being replayed is then named on standard error.

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

// The input being replayed, for the signal handler.
std::string current_input;

extern "C" void name_input_and_stop(int signal_number)
{
    constexpr char prefix[] = "while replaying ";
    // Only async-signal-safe calls here.
    static_cast<void>(write(STDERR_FILENO, prefix, sizeof prefix - 1));
    static_cast<void>(write(STDERR_FILENO, current_input.data(), current_input.size()));
    static_cast<void>(write(STDERR_FILENO, "\n", 1));
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

std::vector<std::filesystem::path> inputs_under(std::filesystem::path const& path)
{
    std::vector<std::filesystem::path> inputs;
    if (!std::filesystem::is_directory(path)) {
        inputs.push_back(path);
        return inputs;
    }
    for (auto const& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus file or folder>...\n", argv[0]);
        return 2;
    }
    // A failed property traps; the sanitizers report their own faults.
    for (int const signal_number : { SIGILL, SIGTRAP, SIGABRT })
        std::signal(signal_number, name_input_and_stop);

    std::size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        std::error_code error;
        if (!std::filesystem::exists(argv[index], error)) {
            std::fprintf(stderr, "no such corpus: %s\n", argv[index]);
            return 2;
        }
        for (auto const& input : inputs_under(argv[index])) {
            std::ifstream file(input, std::ios::binary);
            std::vector<char> const bytes { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "cannot read %s\n", input.c_str());
                return 2;
            }
            current_input = input.string();
            LLVMFuzzerTestOneInput(reinterpret_cast<std::uint8_t const*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0 ? 1 : 0;
}

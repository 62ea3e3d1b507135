#pragma once

// Small helpers the scale-benchmark programs share: whole-file reads and
// writes without exceptions, a monotonic stopwatch, and the line every timing
// program prints for the driver script.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace corvella_bench {

// The whole file, or nothing when it cannot be opened or read.
inline std::optional<std::string> read_whole_file(std::string const& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string content;
    char buffer[1 << 16];
    for (;;) {
        std::size_t const count = std::fread(buffer, 1, sizeof buffer, file);
        content.append(buffer, count);
        if (count < sizeof buffer)
            break;
    }
    bool const failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return content;
}

// Creates or truncates the file and writes the bytes; false on any failure.
inline bool write_whole_file(std::string const& path, std::string_view content)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

class Stopwatch {
public:
    Stopwatch() : m_start(std::chrono::steady_clock::now()) { }
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    std::chrono::steady_clock::time_point m_start;
};

// The line the driver script reads: "seconds <value>".
inline void print_seconds(double seconds) { std::printf("seconds %.6f\n", seconds); }

// Prints "<program>: <message>" on standard error and returns exit status 1.
inline int fail(std::string_view program, std::string_view message)
{
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(program.size()), program.data(),
                 static_cast<int>(message.size()), message.data());
    return 1;
}

} // namespace corvella_bench

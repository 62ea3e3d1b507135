#pragma once

// A scratch directory and whole-file helpers for tests that work on real
// files: the file layer's unit tests and the end-to-end tests.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the value goes away.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvellactl-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_path = pattern;
    }
    ScratchDirectory(ScratchDirectory const&) = delete;
    ScratchDirectory& operator=(ScratchDirectory const&) = delete;
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    std::filesystem::path const& path() const { return m_path; }
    std::filesystem::path operator/(std::string const& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

inline std::string read_file(std::filesystem::path const& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

inline void write_file(std::filesystem::path const& path, std::string const& content)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << content;
}

using Names = std::vector<std::string>;

// The names in the directory, sorted.
inline Names entries(std::filesystem::path const& directory)
{
    Names names;
    for (auto const& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Bytes that differ from one position to the next, so a piece written twice
// or left out shows.
inline std::string patterned(std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t index = 0; index < size; ++index)
        text[index] = static_cast<char>('a' + (index * 7 + index / 4099) % 26);
    return text;
}

} // namespace test_support

#include "store/key_file.h"

#include "scratch_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using test_support::error_text;
using test_support::has_value;
using test_support::Names;
using test_support::ScratchDirectory;

// RFC 8032 section 7.1, test 1.
constexpr char const* rfc8032_seed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::array<std::uint8_t, 32> rfc8032_public_key {
    0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9, 0x64, 0x07, 0x3a,
    0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a,
};

TEST(KeyFile, AcceptedSpellingsOfTheSeedLoad)
{
    std::string const upper = "9D61B19DEFFD5A60BA844AF492EC2CC44449C5697B326919703BAC031CAE7F60";
    for (std::string const& content : { std::string(rfc8032_seed), std::string(rfc8032_seed) + "\n", upper,
                                       " \r\n\t" + std::string(rfc8032_seed) + "\r\n" }) {
        ScratchDirectory directory;
        auto const path = (directory / "key.hex").string();
        test_support::write_file(path, content);
        auto const key = corvellactl::load_or_create_key(path);
        ASSERT_TRUE(has_value(key)) << content;
        EXPECT_EQ(key->verifying_key().bytes, rfc8032_public_key);
        EXPECT_EQ(test_support::read_file(path), content);
    }
}

TEST(KeyFile, BadKeyFilesAreReportedAndNeverOverwritten)
{
    std::string const seed = rfc8032_seed;
    struct Row {
        std::string content;
        bool not_hex; // otherwise an input/output error
        std::string io_text;
    };
    std::vector<Row> const rows {
        { seed.substr(0, 63), true, "" },
        { seed + "0", true, "" },
        { "g" + seed.substr(1), true, "" },
        { "", true, "" },
        { "\xff" + seed.substr(1), false, "io error: stream did not contain valid UTF-8" },
    };
    for (auto const& row : rows) {
        ScratchDirectory directory;
        auto const path = (directory / "key.hex").string();
        test_support::write_file(path, row.content);
        auto const key = corvellactl::load_or_create_key(path);
        SCOPED_TRACE(row.content);
        EXPECT_EQ(error_text(key), row.not_hex ? "signing key file " + path + " is not valid hex" : row.io_text);
        EXPECT_EQ(test_support::read_file(path), row.content);
        EXPECT_EQ(test_support::entries(directory.path()), Names { "key.hex" });
    }

    ScratchDirectory directory;
    std::filesystem::create_directory(directory / "key.hex");
    EXPECT_EQ(error_text(corvellactl::load_or_create_key((directory / "key.hex").string())),
              "io error: Is a directory");
}

TEST(KeyFile, MissingKeyIsCreatedOwnerOnlyAndReadBackTheSame)
{
    ScratchDirectory directory;
    auto const path = (directory / "key.hex").string();
    auto const created = corvellactl::load_or_create_key(path);
    ASSERT_TRUE(has_value(created));

    std::string const content = test_support::read_file(path);
    EXPECT_EQ(content.size(), 64u);
    EXPECT_EQ(content.find_first_not_of("0123456789abcdef"), std::string::npos) << content;
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(test_support::entries(directory.path()), Names { "key.hex" });

    auto const loaded = corvellactl::load_or_create_key(path);
    ASSERT_TRUE(has_value(loaded));
    EXPECT_EQ(loaded->verifying_key(), created->verifying_key());
    EXPECT_EQ(test_support::read_file(path), content);

    EXPECT_EQ(error_text(corvellactl::load_or_create_key((directory / "missing" / "key.hex").string())),
              "io error: No such file or directory");
    EXPECT_EQ(test_support::entries(directory.path()), Names { "key.hex" });
}

} // namespace

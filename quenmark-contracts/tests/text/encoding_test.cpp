#include "quenmark/text/encoding.h"

#include "quenmark/integrity/content_hash.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/text/text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quenmark;

std::string vector_file(std::string const& name)
{
    std::ifstream file(std::string(QUENMARK_TEST_VECTORS) + "/eddsa-jcs-2022/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> bytes_of(std::string_view text) { return { text.begin(), text.end() }; }

std::vector<std::uint8_t> from_hex(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t index = 0; index + 1 < text.size(); index += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(index, 2)), nullptr, 16)));
    return bytes;
}

// Known pairs: the Bitcoin alphabet's own examples, leading zeros, and the
// published signature of the eddsa-jcs-2022 vectors.
TEST(Base58btc, KnownPairs)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string text;
    };
    std::vector<Case> const cases {
        { {}, "" },
        { { 0 }, "1" },
        { { 0, 0, 0 }, "111" },
        { { 57 }, "z" },
        { { 58 }, "21" },
        { { 0, 0, 0x28, 0x7f, 0xb4, 0xcd }, "11233QC4" },
        { bytes_of("Hello World!"), "2NEpo7TZRRrLZSi2U" },
        { bytes_of("The quick brown fox jumps over the lazy dog."),
            "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z" },
        { from_hex(vector_file("sigHexJCS.txt")), vector_file("sigBTC58JCS.txt").substr(1) },
    };
    for (auto const& entry : cases) {
        EXPECT_EQ(base58btc_encode(entry.bytes), entry.text);
        auto const decoded = base58btc_decode(entry.text);
        ASSERT_TRUE(decoded) << entry.text;
        EXPECT_EQ(*decoded, entry.bytes) << entry.text;
    }
    for (std::string_view bad : { "0", "O", "I", "l", "abc+", "z z" })
        EXPECT_FALSE(base58btc_decode(bad)) << bad;
}

TEST(Base64, Rfc4648VectorsAndStrictReading)
{
    std::vector<std::pair<std::string, std::string>> const cases {
        { "", "" }, { "f", "Zg==" }, { "fo", "Zm8=" }, { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" }, { "fooba", "Zm9vYmE=" }, { "foobar", "Zm9vYmFy" },
    };
    for (auto const& [plain, text] : cases) {
        EXPECT_EQ(base64_encode(bytes_of(plain)), text);
        auto const decoded = base64_decode(text);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(*decoded, bytes_of(plain));
    }
    for (std::string_view bad : { "Zg=", "Zg", "Z===", "Zh==", "Zm9=", "Zm=v", "Zm9v\n", "Zm-v", "=Zm9" })
        EXPECT_FALSE(base64_decode(bad)) << bad;
}

// The published key pair: the seed (multibase, 0x80 0x26 prefix) gives the
// published public multikey, and the multikey reads back to the same key.
TEST(Multikey, PublishedKeyPair)
{
    std::string const public_multikey = "z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2";
    auto const secret = base58btc_decode(std::string_view("z3u2en7t5LR2WtQH5PfFqMqwVHBeXouLzo6haApm8XHqvjxq").substr(1));
    ASSERT_TRUE(secret);
    ASSERT_EQ(secret->size(), 34U);
    EXPECT_EQ((*secret)[0], 0x80);
    EXPECT_EQ((*secret)[1], 0x26);
    std::array<std::uint8_t, seed_size> seed {};
    std::copy(secret->begin() + 2, secret->end(), seed.begin());
    auto const key = SigningKey::from_seed(seed).verifying_key();
    EXPECT_EQ(multikey(key), public_multikey);
    EXPECT_EQ(did_key(key), "did:key:" + public_multikey);
    EXPECT_EQ(key_of_multikey(public_multikey), key);

    for (std::string_view bad : { "", "z", "6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2",
             "z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ", "z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ22",
             "zQ3shokFTS3brHcDQrn82RUDfCZESWL1ZdCEJwekUDPQiYBme" /* a secp256k1 key */ })
        EXPECT_FALSE(key_of_multikey(bad)) << bad;
}

// The published hashes: SHA-256 of the two canonical forms.
TEST(Sha256, PublishedHashes)
{
    auto const hex = [](std::array<std::uint8_t, 32> const& digest) {
        std::string text;
        append_hex(text, digest);
        return text;
    };
    EXPECT_EQ(hex(sha256(vector_file("canonDocJCS.txt"))), vector_file("docHashJCS.txt"));
    EXPECT_EQ(hex(sha256(vector_file("proofCanonJCS.txt"))), vector_file("proofHashJCS.txt"));
    EXPECT_EQ(hex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace

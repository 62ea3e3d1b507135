#include "quenmark/integrity/signing.h"

#include "quenmark/integrity/cores.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using quenmark::Signature;
using quenmark::SigningKey;

std::string hex_of(quenmark::VerifyingKey const& key)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (auto byte : key.bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::string bytes_of_hex(std::string_view hex)
{
    std::string bytes;
    for (std::size_t index = 0; index + 1 < hex.size(); index += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(index, 2)), nullptr, 16)));
    return bytes;
}

struct Rfc8032Vector {
    char const* secret_key;
    char const* public_key;
    char const* message;
    char const* signature;
};

// RFC 8032, section 7.1, TEST 1 and TEST 2.
constexpr Rfc8032Vector rfc8032_vectors[] = {
    { "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
        "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
        "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe"
        "24655141438e7a100b" },
    { "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
        "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
        "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302a"
        "eeb00d291612bb0c00" },
};

constexpr char const* test_seed = rfc8032_vectors[0].secret_key;

SigningKey key_from(std::string_view hex)
{
    auto key = SigningKey::from_hex(hex);
    EXPECT_TRUE(key.has_value()) << hex;
    return key ? std::move(*key) : SigningKey::generate();
}

TEST(Signing, Rfc8032Vectors)
{
    for (auto const& vector : rfc8032_vectors) {
        SigningKey const key = key_from(vector.secret_key);
        EXPECT_EQ(hex_of(key.verifying_key()), vector.public_key);
        EXPECT_EQ(key.seed_text().text(), vector.secret_key);
        std::string const message = bytes_of_hex(vector.message);
        Signature const signature = key.sign(std::string_view(message));
        EXPECT_EQ(signature.to_text(), vector.signature);
        auto parsed = Signature::parse(vector.signature);
        ASSERT_TRUE(test_support::has_value(parsed));
        EXPECT_TRUE(quenmark::verify_bytes(key.verifying_key(), message, *parsed));
        // Deterministic: the same message signs to the same bytes every time.
        EXPECT_EQ(key.sign(std::string_view(message)), signature);
    }
}

TEST(Signing, SigningManyAtOnceGivesEachMessagesOwnSignature)
{
    SigningKey const key = key_from(test_seed);
    // With every core, with one left to a busy thread, and with more threads
    // busy than there are cores: the caller then signs alone.
    for (std::size_t const busy : { 0U, 1U, 64U }) {
        std::vector<std::unique_ptr<quenmark::BusyThread>> held;
        for (std::size_t index = 0; index < busy; ++index)
            held.push_back(std::make_unique<quenmark::BusyThread>());
        ASSERT_EQ(quenmark::busy_threads(), busy);
        // Alone, in one or two pieces on the calling thread, and shared with others.
        for (std::size_t const count : { 0U, 1U, 128U, 129U, 1000U }) {
            std::vector<std::string> messages;
            for (std::size_t index = 0; index < count; ++index)
                messages.push_back("message " + std::to_string(index));
            auto const signatures = key.sign_all(messages);
            ASSERT_EQ(signatures.size(), count);
            for (std::size_t index = 0; index < count; ++index)
                EXPECT_EQ(signatures[index], key.sign(std::string_view(messages[index])))
                    << busy << " " << count << " " << index;
        }
    }
    EXPECT_EQ(quenmark::busy_threads(), 0U);
}

TEST(Signing, AlteredSignatureMessageOrKeyFails)
{
    SigningKey const key = key_from(test_seed);
    std::string const message = "training.assignment.created";
    Signature const signature = key.sign(std::string_view(message));
    ASSERT_TRUE(quenmark::verify_bytes(key.verifying_key(), message, signature));

    for (std::size_t index : { 0U, 31U, 32U, 63U }) {
        Signature flipped = signature;
        flipped.bytes[index] ^= 0x01;
        EXPECT_FALSE(quenmark::verify_bytes(key.verifying_key(), message, flipped)) << "byte " << index;
    }
    std::string changed = message;
    changed[0] = 'T';
    EXPECT_FALSE(quenmark::verify_bytes(key.verifying_key(), changed, signature));
    SigningKey const other = key_from(rfc8032_vectors[1].secret_key);
    EXPECT_FALSE(quenmark::verify_bytes(other.verifying_key(), message, signature));
}

TEST(Signing, GeneratedKeysDifferAndRoundTripThroughHex)
{
    SigningKey const first = SigningKey::generate();
    SigningKey const second = SigningKey::generate();
    EXPECT_NE(first.seed_text().text(), second.seed_text().text());
    SigningKey const reloaded = key_from(first.seed_text().text());
    EXPECT_EQ(reloaded.verifying_key(), first.verifying_key());
    Signature const signature = first.sign(std::string_view("record"));
    EXPECT_TRUE(quenmark::verify_bytes(reloaded.verifying_key(), "record", signature));
}

TEST(Signing, KeyHexReading)
{
    std::string const seed = test_seed;
    std::string upper = seed;
    for (char& digit : upper)
        digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
    struct Row {
        std::string text;
        bool accepted;
    };
    Row const rows[] = {
        { seed, true },
        { seed + "\n", true },
        { upper, true },
        { " \t\r\n" + seed + "\r\n", true },
        { "\xC2\xA0" + seed + "\xE2\x80\x83", true }, // no-break space and em space are white space
        { seed.substr(0, 63), false },
        { seed + "0", false },
        { "g" + seed.substr(1), false },
        { "", false },
        { "\n", false },
        { "-1" + seed.substr(2), false },
        { "\xC3\xA9" + seed.substr(2), false },
        { "9\xC3\xA9" + seed.substr(3), false },
        { seed.substr(0, 32) + " " + seed.substr(33), false },
    };
    for (auto const& row : rows) {
        auto key = SigningKey::from_hex(row.text);
        EXPECT_EQ(key.has_value(), row.accepted) << row.text;
        if (key) {
            EXPECT_EQ(key->seed_text().text(), seed) << row.text;
        }
    }
}

TEST(Signing, KeyHexPlusGroupsReadAsOneDigit)
{
    // "+9" reads as 0x09 and "+d" as 0x0d, the same seed as "09" and "0d".
    std::string const rest = std::string(test_seed).substr(4);
    auto plus = SigningKey::from_hex("+9+d" + rest);
    ASSERT_TRUE(plus.has_value());
    EXPECT_EQ(plus->seed_text().text(), "090d" + rest);
}

TEST(Signing, SignatureTextParsing)
{
    std::string const zeros(128, '0');
    struct Row {
        std::string text;
        std::string message;
    };
    Row const rows[] = {
        { zeros.substr(1), "validation failed: ed25519 signature must be 128 hex characters, got 127" },
        { zeros + "0", "validation failed: ed25519 signature must be 128 hex characters, got 129" },
        { "", "validation failed: ed25519 signature must be 128 hex characters, got 0" },
        { "zz" + zeros.substr(2), "validation failed: invalid hex in signature: \"zz\"" },
        { zeros.substr(2) + "-0", "validation failed: invalid hex in signature: \"-0\"" },
        { "0\xC3\xA9" + zeros.substr(3), "validation failed: signature is not ASCII" },
        { "\xC3\xA9" + zeros.substr(2), "validation failed: invalid hex in signature: \"\xC3\xA9\"" },
        { "\t0" + zeros.substr(2), "validation failed: invalid hex in signature: \"\\t0\"" },
    };
    for (auto const& row : rows)
        EXPECT_EQ(test_support::error_text(Signature::parse(row.text)), row.message) << row.text;

    auto plus = Signature::parse("+A" + zeros.substr(2));
    ASSERT_TRUE(test_support::has_value(plus));
    EXPECT_EQ(plus->to_text(), "0a" + zeros.substr(2));
}

// A key is never copied, so its secret half exists once.
static_assert(!std::is_copy_constructible_v<SigningKey> && !std::is_copy_assignable_v<SigningKey>);
static_assert(std::is_nothrow_move_constructible_v<SigningKey> && std::is_nothrow_move_assignable_v<SigningKey>);

TEST(Signing, ZeroSecretClearsBytes)
{
    std::array<std::uint8_t, 5> bytes { 1, 2, 3, 4, 5 };
    quenmark::zero_secret(std::as_writable_bytes(std::span(bytes).first(4)));
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 5> { 0, 0, 0, 0, 5 }));
    quenmark::zero_secret(std::span<std::byte> {});
}

} // namespace

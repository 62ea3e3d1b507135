// eddsa-jcs-2022 proofs: the published W3C vectors reproduced byte for byte,
// every changed byte of the signed document refused, and each way a proof can
// be wrong named.

#include "quenmark/integrity/data_integrity.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/encoding.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace quenmark;
using json::Array;
using json::Object;
using json::Value;

std::string vector_file(std::string const& name)
{
    std::ifstream file(std::string(QUENMARK_TEST_VECTORS) + "/eddsa-jcs-2022/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Object object_of(std::string_view text)
{
    auto value = json::parse_value(text);
    EXPECT_TRUE(value.has_value()) << (value ? "" : value.error());
    if (!value || !std::holds_alternative<Object>(value->data))
        return {};
    return std::get<Object>(std::move(value->data));
}

std::string string_member(Object const& object, std::string_view name)
{
    Value const* value = json::find_member(object, name);
    return value != nullptr && std::holds_alternative<std::string>(value->data) ? std::get<std::string>(value->data)
                                                                                 : std::string();
}

// The published key pair's signing key: privateKeyMultibase is "z" +
// base58btc of 0x80 0x26 and the 32-byte seed.
SigningKey published_key()
{
    Object const pair = object_of(vector_file("keyPair.json"));
    auto const secret = base58btc_decode(std::string_view(string_member(pair, "privateKeyMultibase")).substr(1));
    std::array<std::uint8_t, seed_size> seed {};
    if (secret && secret->size() == 2 + seed_size)
        std::copy(secret->begin() + 2, secret->end(), seed.begin());
    return SigningKey::from_seed(seed);
}

std::string pretty(Object const& object)
{
    std::string out;
    json::PrettyWriter writer(out);
    EXPECT_TRUE(test_support::has_value(json::write_tree(writer, Value(object))));
    return out;
}

std::string verify_text(Object const& secured)
{
    auto const verified = verify_proof(secured);
    return verified ? "verifies" : verified.error().text();
}

// Signing unsigned.json with the published key and the published proof
// options gives signedJCS.json exactly: the options as the proof
// configuration builds them, the signature, and the document as the pretty
// writer lays it out.
TEST(EddsaJcs2022, SigningThePublishedDocumentGivesThePublishedBytes)
{
    Object const document = object_of(vector_file("unsigned.json"));
    Object const published_options = object_of(vector_file("proofConfigJCS.json"));
    SigningKey const key = published_key();
    EXPECT_EQ(multikey(key.verifying_key()), string_member(object_of(vector_file("keyPair.json")), "publicKeyMultibase"));

    auto const created = Timestamp::parse(string_member(published_options, "created"));
    ASSERT_TRUE(test_support::has_value(created));
    ProofOptions const options { .created = *created,
                                 .verification_method = did_key_verification_method(key.verifying_key()) };
    EXPECT_EQ(options.verification_method, string_member(published_options, "verificationMethod"));
    EXPECT_EQ(Value(proof_configuration(document, options)), Value(published_options));

    auto const secured = add_proof(document, options, key);
    ASSERT_TRUE(test_support::has_value(secured));
    EXPECT_EQ(pretty(*secured), vector_file("signedJCS.json"));
    EXPECT_EQ(test_support::error_text(add_proof(*secured, options, key)),
              "validation failed: the document already has a proof");
}

TEST(EddsaJcs2022, ThePublishedSignedDocumentVerifies)
{
    auto const verified = verify_proof(object_of(vector_file("signedJCS.json")));
    ASSERT_TRUE(test_support::has_value(verified));
    EXPECT_EQ(verified->key, published_key().verifying_key());
    EXPECT_EQ(verified->verification_method,
              "did:key:z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2#z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2");
    ASSERT_TRUE(verified->created.has_value());
    EXPECT_EQ(verified->created->to_text(), "2023-02-24T23:36:38Z");
}

// Every byte inside a member name or a string value of signedJCS.json,
// changed in turn: the text no longer reads as JSON, or its proof fails.
// Names and values of the document and of the proof are all covered.
TEST(EddsaJcs2022, EveryChangedByteOfANameOrValueFails)
{
    std::string const signed_text = vector_file("signedJCS.json");
    std::size_t changed = 0;
    bool in_string = false;
    for (std::size_t position = 0; position < signed_text.size(); ++position) {
        char const byte = signed_text[position];
        if (byte == '"') {
            in_string = !in_string;
            continue;
        }
        if (!in_string || byte == '\\')
            continue;
        for (char const replacement : { 'a', 'Z', '0', '#' }) {
            if (replacement == byte)
                continue;
            std::string altered = signed_text;
            altered[position] = replacement;
            auto const value = json::parse_value(altered);
            if (!value || !std::holds_alternative<Object>(value->data))
                continue;
            ++changed;
            EXPECT_FALSE(verify_proof(std::get<Object>(value->data)).has_value())
                << "byte " << position << " ('" << byte << "') changed to '" << replacement << "'";
        }
    }
    EXPECT_GT(changed, 2500U);
}

// A secured document changed by `edit`, and the reason its proof then fails.
struct BrokenProof {
    char const* name;
    std::function<void(Object& document, Object& proof)> edit;
    std::string reason;
};

void set(Object& object, std::string const& name, Value value)
{
    for (auto& [key, member] : object) {
        if (key == name) {
            member = std::move(value);
            return;
        }
    }
    object.emplace_back(name, std::move(value));
}

std::vector<BrokenProof> broken_proofs()
{
    std::string const method = "did:key:z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2#z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2";
    Value const contexts = Array { Value("https://www.w3.org/ns/credentials/v2"),
                                   Value("https://www.w3.org/ns/credentials/examples/v2") };
    return {
        { "no proof", [](Object& document, Object&) { std::erase_if(document, [](auto& m) { return m.first == "proof"; }); },
          "it has no proof" },
        { "a set of proofs", [](Object& document, Object& proof) { set(document, "proof", Array { Value(proof) }); },
          "its proof is not one object" },
        { "another proof type", [](Object&, Object& proof) { set(proof, "type", "Ed25519Signature2020"); },
          "its proof is not a DataIntegrityProof" },
        { "no proof type", [](Object&, Object& proof) { std::erase_if(proof, [](auto& m) { return m.first == "type"; }); },
          "its proof is not a DataIntegrityProof" },
        { "another cryptosuite", [](Object&, Object& proof) { set(proof, "cryptosuite", "eddsa-rdfc-2022"); },
          "its proof's cryptosuite is not eddsa-jcs-2022" },
        { "another purpose", [](Object&, Object& proof) { set(proof, "proofPurpose", "authentication"); },
          "its proof's purpose is not assertionMethod" },
        { "created not a date-time", [](Object&, Object& proof) { set(proof, "created", "yesterday"); },
          "its proof's created is not an RFC 3339 date-time" },
        { "created not a string", [](Object&, Object& proof) { set(proof, "created", Value(std::uint64_t { 1 })); },
          "its proof's created is not an RFC 3339 date-time" },
        { "a did:web method", [](Object&, Object& proof) { set(proof, "verificationMethod", "did:web:example.com#key-1"); },
          "its proof's verification method is not an Ed25519 did:key" },
        { "a fragment that is not the key",
          [method](Object&, Object& proof) { set(proof, "verificationMethod", method.substr(0, method.find('#')) + "#key-1"); },
          "its proof's verification method is not an Ed25519 did:key" },
        { "a method without a fragment",
          [method](Object&, Object& proof) { set(proof, "verificationMethod", method.substr(0, method.find('#'))); },
          "its proof's verification method is not an Ed25519 did:key" },
        { "a proofValue in base64url multibase", [](Object&, Object& proof) { set(proof, "proofValue", "uQUJD"); },
          "its proof's proofValue is not a base58btc Ed25519 signature" },
        { "a proofValue one byte short", [](Object&, Object& proof) { set(proof, "proofValue", "z" + base58btc_encode(std::vector<std::uint8_t>(63, 7))); },
          "its proof's proofValue is not a base58btc Ed25519 signature" },
        { "contexts in another order",
          [](Object& document, Object&) {
              set(document, "@context", Array { Value("https://www.w3.org/ns/credentials/examples/v2"),
                                                 Value("https://www.w3.org/ns/credentials/v2") });
          },
          "its @context does not begin with its proof's @context" },
        { "a document without the proof's context",
          [](Object& document, Object&) { std::erase_if(document, [](auto& m) { return m.first == "@context"; }); },
          "its @context does not begin with its proof's @context" },
        { "a proof that names only the first context: the document is checked under that one",
          [](Object&, Object& proof) { set(proof, "@context", Array { Value("https://www.w3.org/ns/credentials/v2") }); },
          "its proof's signature does not match its content" },
        { "a proof member added after signing", [](Object&, Object& proof) { set(proof, "nonce", "1234"); },
          "its proof's signature does not match its content" },
        { "a document member changed", [](Object& document, Object&) { set(document, "name", "Alumni"); },
          "its proof's signature does not match its content" },
        { "the document's members reordered and one renamed",
          [](Object& document, Object&) {
              std::reverse(document.begin(), document.end());
              for (auto& member : document) {
                  if (member.first == "validFrom")
                      member.first = "validUntil";
              }
          },
          "its proof's signature does not match its content" },
        { "a floating-point number in the document",
          [](Object& document, Object&) { set(document, "score", Value(0.5)); },
          "canonical serialization failed: floating-point number at score is not supported in RFC 8785 form; this "
          "tool writes none" },
    };
}

TEST(EddsaJcs2022, EachWayAProofIsWrongIsNamed)
{
    Object const published = object_of(vector_file("signedJCS.json"));
    for (auto const& row : broken_proofs()) {
        Object document = published;
        Object proof = std::get<Object>(json::find_member(document, "proof")->data);
        row.edit(document, proof);
        for (auto& member : document) {
            if (member.first == "proof" && std::holds_alternative<Object>(member.second.data))
                member.second = Value(proof);
        }
        EXPECT_EQ(verify_text(document), row.reason) << row.name;
    }
}

// What the W3C text allows: members reordered anywhere (JCS sorts them), and
// contexts appended after those the proof names.
TEST(EddsaJcs2022, ReorderedMembersAndAppendedContextsStillVerify)
{
    Object document = object_of(vector_file("signedJCS.json"));
    std::reverse(document.begin(), document.end());
    EXPECT_EQ(verify_text(document), "verifies");
    for (auto& [key, value] : document) {
        if (key == "@context")
            std::get<Array>(value.data).emplace_back("https://example.org/more/v1");
    }
    EXPECT_EQ(verify_text(document), "verifies");
}

// A document of this system's own, signed with a key from a fixed seed, and
// checked back; text outside ASCII is not composed, so both spellings of é
// are distinct and signed as given.
TEST(EddsaJcs2022, RoundTripWithAnotherKey)
{
    std::array<std::uint8_t, seed_size> seed {};
    seed.fill(0x42);
    SigningKey const key = SigningKey::from_seed(seed);
    Object const document {
        { "@context", Array { Value("https://www.w3.org/ns/credentials/v2") } },
        { "name", Value("Caf\xC3\xA9 and Cafe\xCC\x81") },
        { "count", Value(std::uint64_t { 3 }) },
    };
    auto const created = Timestamp::parse("2026-12-08T04:00:09Z");
    ASSERT_TRUE(created.has_value());
    auto secured = add_proof(document, { .created = *created,
                                         .verification_method = did_key_verification_method(key.verifying_key()) },
                             key);
    ASSERT_TRUE(test_support::has_value(secured));
    auto const verified = verify_proof(*secured);
    ASSERT_TRUE(test_support::has_value(verified));
    EXPECT_EQ(verified->key, key.verifying_key());

    // The same proof under another key's verification method fails.
    SigningKey const other = SigningKey::from_seed(std::array<std::uint8_t, seed_size> {});
    for (auto& [name, value] : *secured) {
        if (name == "proof")
            set(std::get<Object>(value.data), "verificationMethod", did_key_verification_method(other.verifying_key()));
    }
    EXPECT_EQ(verify_text(*secured), "its proof's signature does not match its content");
}

} // namespace

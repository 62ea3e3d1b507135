// Credentials end to end: key public, credential export to standard output
// and to a file, credential verify as of instants around the validity
// window, tampered and re-signed credentials, the refusals of both commands,
// and that verify reads and writes none of the data files.

#include "workflow_support.h"

#include "quenmark/integrity/data_integrity.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using e2e::Outcome;
using e2e::run;
using e2e::ScratchDirectory;
using quenmark::json::Object;
using quenmark::json::Value;

std::string const dash = " \u2014 ";
std::filesystem::path const golden_state = std::filesystem::path(CORVELLA_SOURCE_DIR) / "tests/golden/data/state.json";
std::filesystem::path const vectors = std::filesystem::path(CORVELLA_SOURCE_DIR)
    / "quenmark-contracts/tests/vectors/eddsa-jcs-2022";
std::string const golden_seed = "030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc";
// The golden state's certificates: one valid for 2026 (score band pass), one
// until the end of the calendar (distinction), both of assessment
// "Safety basics".
std::string const yearly = "10000028-0000-4000-8000-000000abc028";
std::string const lasting = "10000029-0000-4000-8000-000000abc029";
std::string const yearly_urn = "urn:uuid:" + yearly;
std::string const lasting_urn = "urn:uuid:" + lasting;

// The public key of a hex seed, by libsodium.
std::string public_key_hex(std::string const& seed_hex)
{
    unsigned char seed[crypto_sign_SEEDBYTES];
    for (std::size_t index = 0; index < sizeof seed; ++index)
        seed[index] = static_cast<unsigned char>(std::stoi(seed_hex.substr(index * 2, 2), nullptr, 16));
    unsigned char public_key[crypto_sign_PUBLICKEYBYTES];
    unsigned char secret_key[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(public_key, secret_key, seed);
    std::string hex;
    for (unsigned char const byte : public_key) {
        constexpr char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4U];
        hex += digits[byte & 0x0FU];
    }
    return hex;
}

std::string golden_did()
{
    auto const key = quenmark::SigningKey::from_hex(golden_seed);
    return quenmark::did_key(key->verifying_key());
}

void write_golden(ScratchDirectory const& directory)
{
    e2e::write_file(directory / e2e::state_file, e2e::read_file(golden_state));
    e2e::write_file(directory / e2e::key_file, golden_seed);
}

// Exports the certificate into `file` in the directory and returns the credential's text.
std::string export_to(ScratchDirectory const& directory, std::string const& certificate, std::string const& file)
{
    auto const result = run(directory.path(), { "credential", "export", "--certificate-id", certificate, "--output", file });
    EXPECT_EQ(result.status, 0) << result.err;
    return e2e::read_file(directory / file);
}

std::string valid_line(std::string const& urn, std::string const& as_of)
{
    return "VALID" + dash + "credential " + urn + " verifies as of " + as_of + ", issuer " + golden_did() + "\n";
}

Outcome invalid(std::string const& urn, std::string const& reason)
{
    return { .out = "INVALID" + dash + "credential " + urn + " does not verify: " + reason + "\n",
             .err = "Error: credential " + urn + " failed verification: " + reason + "\n" };
}

// The text with the first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, std::string const& from, std::string const& to)
{
    auto const position = text.find(from);
    EXPECT_NE(position, std::string::npos) << from;
    if (position != std::string::npos)
        text.replace(position, from.size(), to);
    return text;
}

std::string pretty(Object const& object)
{
    std::string out;
    quenmark::json::PrettyWriter writer(out);
    EXPECT_TRUE(quenmark::json::write_tree(writer, Value(object)).has_value());
    return out;
}

// The credential's proof taken off, `edit` applied, and a new proof made
// with the key of `seed_byte` repeated.
std::string resigned(std::string const& text, std::uint8_t seed_byte, std::function<void(Object&)> const& edit)
{
    auto value = quenmark::json::parse_value(text);
    EXPECT_TRUE(value.has_value());
    Object credential = std::get<Object>(value->data);
    std::erase_if(credential, [](auto const& member) { return member.first == "proof"; });
    edit(credential);
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    seed.fill(seed_byte);
    auto const key = quenmark::SigningKey::from_seed(seed);
    auto const secured = quenmark::add_proof(
        credential,
        { .created = quenmark::Timestamp::now(),
          .verification_method = quenmark::did_key_verification_method(key.verifying_key()) },
        key);
    EXPECT_TRUE(secured.has_value());
    return pretty(*secured);
}

TEST(KeyPublic, PrintsTheKeyThreeWaysAndCreatesItOnce)
{
    ScratchDirectory directory;
    auto const first = run(directory.path(), { "key", "public" });
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(e2e::entries(directory.path()), e2e::Names { e2e::key_file });
    std::string const seed = e2e::read_file(directory / e2e::key_file);
    ASSERT_EQ(seed.size(), 64U);

    std::vector<std::string> lines;
    for (std::size_t start = 0; start < first.out.size();) {
        std::size_t const end = first.out.find('\n', start);
        lines.push_back(first.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 3U) << first.out;
    EXPECT_EQ(lines[0], public_key_hex(seed));
    EXPECT_EQ(lines[1].substr(0, 4), "z6Mk"); // 0xed 0x01 and a 32-byte key in base58btc
    EXPECT_EQ(lines[2], "did:key:" + lines[1]);

    e2e::expect_outcome(directory.path(), { "key", "public" }, { .out = first.out, .status = 0 });

    // The golden seed: its multikey as computed outside this code (PyNaCl's
    // public key, base58btc written separately).
    ScratchDirectory golden;
    write_golden(golden);
    auto const known = run(golden.path(), { "key", "public" });
    EXPECT_EQ(known.out, public_key_hex(golden_seed) + "\nz6MknMPNnbfMgsLj4nSUib4BjiPuvbZ4o7SRwQGcDU1nT9js\n"
                         "did:key:z6MknMPNnbfMgsLj4nSUib4BjiPuvbZ4o7SRwQGcDU1nT9js\n");

    e2e::write_file(golden / e2e::key_file, golden_seed.substr(1));
    e2e::expect_outcome(golden.path(), { "key", "public" },
                        { .err = "Error: signing key file corvella-signing-key.hex is not valid hex\n" });
}

TEST(CredentialExport, ToStandardOutputAndToAFileAlike)
{
    ScratchDirectory directory;
    write_golden(directory);
    auto const before = e2e::snapshot(directory.path());
    std::time_t const earliest = std::time(nullptr);
    auto const printed = run(directory.path(), { "credential", "export", "--certificate-id", lasting });
    std::time_t const latest = std::time(nullptr);
    EXPECT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.err, "");
    EXPECT_EQ(e2e::changed_files(before, e2e::snapshot(directory.path())), e2e::Names {});
    ASSERT_FALSE(printed.out.empty());
    EXPECT_EQ(printed.out.back(), '\n');

    // The proof was made during the run; the rest is the certificate's.
    auto const value = quenmark::json::parse_value(printed.out);
    ASSERT_TRUE(value.has_value()) << value.error();
    Object const& credential = std::get<Object>(value->data);
    auto const text_at = [&](std::initializer_list<std::string_view> path) {
        Value const* current = nullptr;
        Object const* object = &credential;
        for (auto const step : path) {
            current = object != nullptr ? quenmark::json::find_member(*object, step) : nullptr;
            object = current != nullptr ? std::get_if<Object>(&current->data) : nullptr;
        }
        auto const* text = current != nullptr ? std::get_if<std::string>(&current->data) : nullptr;
        return text != nullptr ? *text : std::string("<none>");
    };
    EXPECT_TRUE(e2e::is_instant_between(text_at({ "proof", "created" }), earliest, latest));
    EXPECT_EQ(text_at({ "id" }), lasting_urn);
    EXPECT_EQ(text_at({ "name" }), "Safety basics");
    EXPECT_EQ(text_at({ "issuer", "id" }), golden_did());
    EXPECT_EQ(text_at({ "validFrom" }), "2026-01-03T00:00:00Z");
    EXPECT_EQ(text_at({ "validUntil" }), "9999-12-31T23:59:59Z");
    EXPECT_EQ(text_at({ "credentialSubject", "id" }), "urn:uuid:1000000d-0000-4000-8000-000000abc00d");
    EXPECT_EQ(text_at({ "credentialSubject", "achievement", "id" }), "urn:uuid:10000001-0000-4000-8000-000000abc001");
    EXPECT_EQ(text_at({ "proof", "verificationMethod" }), golden_did() + "#" + golden_did().substr(8));

    // To a file: the same bytes but for the instant of the proof and its
    // value, and one line naming what was written.
    e2e::expect_outcome(directory.path(), { "credential", "export", "--certificate-id", lasting, "--output", "c.json" },
                        { .out = "wrote credential " + lasting_urn + " to c.json" + dash + "issuer " + golden_did()
                              + ", valid from 2026-01-03T00:00:00Z until 9999-12-31T23:59:59Z\n",
                          .status = 0,
                          .changed = { "c.json" } });
    auto const without_proof_value = [](std::string text) {
        for (std::string const member : { "\"created\": ", "\"proofValue\": " }) {
            auto const start = text.find(member);
            text.erase(start, text.find('\n', start) - start);
        }
        return text;
    };
    EXPECT_EQ(without_proof_value(e2e::read_file(directory / "c.json")), without_proof_value(printed.out));
}

TEST(CredentialVerify, ValidWithinItsWindowAndInvalidOutside)
{
    ScratchDirectory directory;
    write_golden(directory);
    export_to(directory, yearly, "yearly.json");
    export_to(directory, lasting, "lasting.json");

    // Reads no data file, so corrupt ones change nothing; writes nothing.
    e2e::write_file(directory / e2e::state_file, "[");
    e2e::write_file(directory / e2e::key_file, "not a key");
    e2e::write_file(directory / e2e::audit_file, "{");

    struct Case {
        std::string file;
        std::string at;
        Outcome expected;
    };
    std::vector<Case> const cases {
        { "yearly.json", "2026-01-03T00:00:00Z", { .out = valid_line(yearly_urn, "2026-01-03T00:00:00Z"), .status = 0 } },
        { "yearly.json", "2026-06-01T12:30:00+02:00", { .out = valid_line(yearly_urn, "2026-06-01T10:30:00Z"), .status = 0 } },
        { "yearly.json", "2027-01-03T00:00:00Z", { .out = valid_line(yearly_urn, "2027-01-03T00:00:00Z"), .status = 0 } },
        { "yearly.json", "2026-01-02T23:59:59Z", invalid(yearly_urn, "it is not valid before 2026-01-03T00:00:00Z") },
        { "yearly.json", "2027-01-03T00:00:01Z", invalid(yearly_urn, "it expired at 2027-01-03T00:00:00Z") },
        { "lasting.json", "9999-12-31T23:59:59Z", { .out = valid_line(lasting_urn, "9999-12-31T23:59:59Z"), .status = 0 } },
        { "lasting.json", "1999-12-31T23:59:59Z", invalid(lasting_urn, "it is not valid before 2026-01-03T00:00:00Z") },
    };
    for (auto const& row : cases) {
        SCOPED_TRACE(row.file + " at " + row.at);
        e2e::expect_outcome(directory.path(), { "credential", "verify", row.file, "--at", row.at }, row.expected);
    }

    // Without --at: as of now.
    std::time_t const earliest = std::time(nullptr);
    auto const now = run(directory.path(), { "credential", "verify", "lasting.json" });
    std::time_t const latest = std::time(nullptr);
    EXPECT_EQ(now.status, 0) << now.err;
    std::string const prefix = "VALID" + dash + "credential " + lasting_urn + " verifies as of ";
    ASSERT_EQ(now.out.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(e2e::is_instant_between(now.out.substr(prefix.size(), 20), earliest, latest)) << now.out;
    EXPECT_EQ(now.out.substr(prefix.size() + 20), ", issuer " + golden_did() + "\n");

    // In a directory that holds nothing else, nothing is created.
    ScratchDirectory alone;
    e2e::write_file(alone / "c.json", e2e::read_file(directory / "lasting.json"));
    e2e::expect_outcome(alone.path(), { "credential", "verify", "c.json", "--at", "2030-01-01T00:00:00Z" },
                        { .out = valid_line(lasting_urn, "2030-01-01T00:00:00Z"), .status = 0 });
    EXPECT_EQ(e2e::entries(alone.path()), e2e::Names { "c.json" });
}

// Each member changed in the exported file: the proof no longer holds, or,
// for the proof's own fixed members, the change is named.
TEST(CredentialVerify, TamperedMembersAreInvalid)
{
    ScratchDirectory directory;
    write_golden(directory);
    std::string const exported = export_to(directory, yearly, "c.json");
    std::string const signature_fails = "its proof's signature does not match its content";
    std::string const other_did = "did:key:z6MkrJVnaZkeFzdQyMZu1cgjg7k1pZZ6pvBQ7XJPt4swbTQ2";

    struct Tampering {
        char const* name;
        std::string from;
        std::string to;
        std::string reason;
    };
    std::vector<Tampering> const tamperings {
        { "the name", "\"name\": \"Safety basics\"", "\"name\": \"Safety basic\"", signature_fails },
        { "validFrom", "\"validFrom\": \"2026-01-03T00:00:00Z\"", "\"validFrom\": \"2025-01-03T00:00:00Z\"", signature_fails },
        { "validUntil", "\"validUntil\": \"2027-01-03T00:00:00Z\"", "\"validUntil\": \"2099-01-03T00:00:00Z\"", signature_fails },
        { "a member's name", "\"validUntil\":", "\"validuntil\":", signature_fails },
        { "the issuer", "\"id\": \"" + golden_did() + "\"", "\"id\": \"" + other_did + "\"", signature_fails },
        { "the learner", "urn:uuid:1000000d", "urn:uuid:1000000e", signature_fails },
        { "the result", "\"value\": \"Pass\"", "\"value\": \"Distinction\"", signature_fails },
        { "the carried payload", "\"score_band\": \"pass\"", "\"score_band\": \"distinction\"", signature_fails },
        { "the carried signature", "\"signature\": \"e3", "\"signature\": \"e4", signature_fails },
        { "a type", "\"OpenBadgeCredential\"", "\"AchievementCredential\"", signature_fails },
        { "the proof's instant", "\"created\": \"", "\"created\": \"1", "its proof's created is not an RFC 3339 date-time" },
        { "the proof's cryptosuite", "eddsa-jcs-2022", "eddsa-rdfc-2022", "its proof's cryptosuite is not eddsa-jcs-2022" },
        { "the proof's type", "\"DataIntegrityProof\"", "\"Ed25519Signature2020\"", "its proof is not a DataIntegrityProof" },
        { "the proof's purpose", "assertionMethod", "authentication", "its proof's purpose is not assertionMethod" },
        { "the verification method's fragment", "#z6Mk", "#key-1", "its proof's verification method is not an Ed25519 did:key" },
        { "the proof value", "\"proofValue\": \"z", "\"proofValue\": \"u", "its proof's proofValue is not a base58btc Ed25519 signature" },
        { "the credential's first context", "\"https://www.w3.org/ns/credentials/v2\"", "\"https://www.w3.org/2018/credentials/v1\"",
          "its @context does not begin with its proof's @context" },
        { "the proof's name", "\"proof\":", "\"proofs\":", "it has no proof" },
    };
    for (auto const& row : tamperings) {
        SCOPED_TRACE(row.name);
        e2e::write_file(directory / "t.json", replaced(exported, row.from, row.to));
        e2e::expect_outcome(directory.path(), { "credential", "verify", "t.json", "--at", "2026-06-01T00:00:00Z" },
                            invalid(yearly_urn, row.reason));
    }

    // One character of the proof value: a different signature, or none.
    std::string const marker = "\"proofValue\": \"z";
    std::size_t const value_at = exported.find(marker) + marker.size() + 20;
    std::string changed = exported;
    changed[value_at] = changed[value_at] == 'a' ? 'b' : 'a';
    e2e::write_file(directory / "t.json", changed);
    auto const result = run(directory.path(), { "credential", "verify", "t.json", "--at", "2026-06-01T00:00:00Z" });
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out == invalid(yearly_urn, signature_fails).out
                || result.out == invalid(yearly_urn, "its proof's proofValue is not a base58btc Ed25519 signature").out)
        << result.out;
}

// A credential signed again by another key: named as the issuer, the
// certificate it carries gives it away; not named, the issuer does.
TEST(CredentialVerify, AnotherKeyIsInvalid)
{
    ScratchDirectory directory;
    write_golden(directory);
    std::string const exported = export_to(directory, yearly, "c.json");
    std::array<std::uint8_t, quenmark::seed_size> other_seed {};
    other_seed.fill(0x11);
    std::string const other_did = quenmark::did_key(quenmark::SigningKey::from_seed(other_seed).verifying_key());

    e2e::write_file(directory / "claims.json", resigned(exported, 0x11, [&](Object& credential) {
        for (auto& [name, member] : credential) {
            if (name == "issuer")
                member = Value(Object { { "id", Value(other_did) }, { "type", Value(quenmark::json::Array { Value("Profile") }) } });
        }
    }));
    e2e::expect_outcome(directory.path(), { "credential", "verify", "claims.json", "--at", "2026-06-01T00:00:00Z" },
                        invalid(yearly_urn, "the certificate it carries does not verify under its issuer's key"));

    e2e::write_file(directory / "keeps.json", resigned(exported, 0x11, [](Object&) { }));
    e2e::expect_outcome(directory.path(), { "credential", "verify", "keeps.json", "--at", "2026-06-01T00:00:00Z" },
                        invalid(yearly_urn, "its issuer is not the did:key that signed it"));
}

TEST(CredentialExport, Refusals)
{
    ScratchDirectory directory;
    write_golden(directory);
    std::string const short_id = "CertificationId(10000028\u2026)";

    // A key that did not sign the certificate.
    e2e::write_file(directory / e2e::key_file, std::string(64, '7'));
    e2e::expect_outcome(directory.path(), { "credential", "export", "--certificate-id", yearly, "--output", "c.json" },
                        { .err = "Error: certificate " + yearly + " cannot be exported: certificate " + short_id
                              + " failed signature verification\n" });
    e2e::write_file(directory / e2e::key_file, golden_seed);

    // A revoked certificate.
    auto const revoked = run(directory.path(), { "revoke", "--certificate-id", yearly, "--reason", "issued in error" });
    ASSERT_EQ(revoked.status, 0) << revoked.err;
    std::string const revoked_at = revoked.out.substr(revoked.out.find(" at ") + 4, 20);
    for (bool const to_file : { false, true }) {
        std::vector<std::string> arguments { "credential", "export", "--certificate-id", yearly };
        if (to_file)
            arguments.insert(arguments.end(), { "--output", "c.json" });
        e2e::expect_outcome(directory.path(), arguments,
                            { .err = "Error: certificate " + yearly + " cannot be exported: revoked at " + revoked_at
                                  + ": issued in error\n" });
    }

    // Data files as --output, unknown and malformed ids, a missing assessment.
    for (char const* data_file : { e2e::state_file, e2e::key_file, e2e::audit_file }) {
        e2e::expect_outcome(directory.path(),
                            { "credential", "export", "--certificate-id", lasting, "--output", data_file },
                            { .err = std::string("Error: --output must not be the state, key or audit file: ") + data_file + "\n" });
    }
    e2e::expect_outcome(directory.path(),
                        { "credential", "export", "--certificate-id", "10000099-0000-4000-8000-000000abc099" },
                        { .err = "Error: not found: certificate 10000099-0000-4000-8000-000000abc099\n" });
    e2e::expect_outcome(directory.path(), { "credential", "export", "--certificate-id", "nope" },
                        { .err = "Error: invalid CertificationId identifier: invalid character: found `n` at 1\n" });
    e2e::write_file(directory / e2e::state_file,
                    replaced(e2e::read_file(golden_state), "\"id\": \"10000001-0000-4000-8000-000000abc001\"",
                             "\"id\": \"10000001-0000-4000-8000-000000abc0ff\""));
    e2e::expect_outcome(directory.path(), { "credential", "export", "--certificate-id", lasting },
                        { .err = "Error: not found: assessment 10000001-0000-4000-8000-000000abc001\n" });
    EXPECT_FALSE(std::filesystem::exists(directory / "c.json"));
}

TEST(CredentialVerify, FilesThatAreNotCredentials)
{
    ScratchDirectory directory;
    e2e::write_file(directory / "list.json", "[1]");
    e2e::write_file(directory / "plain.json", R"({"type": ["Thing"], "id": "x"})");
    e2e::write_file(directory / "broken.json", "{\"id\": ");
    e2e::write_file(directory / "odd.json", "{\"type\": [\"VerifiableCredential\"], \"id\": \"a\\nb\"}");
    std::filesystem::create_directory(directory / "folder");
    e2e::write_file(directory / "published.json", e2e::read_file(vectors / "signedJCS.json"));

    struct Case {
        std::vector<std::string> arguments;
        Outcome expected;
    };
    std::vector<Case> const cases {
        { { "absent.json" }, { .err = "Error: io error: No such file or directory\n" } },
        { { "folder" }, { .err = "Error: io error: Is a directory\n" } },
        { { "broken.json" }, { .err = "Error: json error: EOF while parsing a value at line 1 column 8\n" } },
        { { "list.json" }, { .err = "Error: list.json is not a verifiable credential: it is not a JSON object\n" } },
        { { "plain.json" },
          { .err = "Error: plain.json is not a verifiable credential: its type does not include VerifiableCredential\n" } },
        { { "plain.json", "--at", "tomorrow" },
          { .err = "Error: validation failed: invalid RFC 3339 timestamp \"tomorrow\": the 'year' component could not "
                   "be parsed\n" } },
        // A foreign id is shown quoted, so it cannot break the line.
        { { "odd.json" }, invalid("\"a\\nb\"", "it has no proof") },
        // A credential of another issuer whose proof holds is not one of this tool's.
        { { "published.json" },
          { .out = "INVALID" + dash + "credential urn:uuid:58172aac-d8ba-11ed-83dd-0b3aef56cc33: its proof verifies, "
                                       "but it carries no certificate issued by corvellactl\n",
            .err = "Error: credential urn:uuid:58172aac-d8ba-11ed-83dd-0b3aef56cc33 carries no certificate issued by "
                   "corvellactl\n" } },
    };
    for (auto const& row : cases) {
        std::vector<std::string> arguments { "credential", "verify" };
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        SCOPED_TRACE(row.arguments.front());
        e2e::expect_outcome(directory.path(), arguments, row.expected);
    }
}

} // namespace

#pragma once

// Helpers for the end-to-end tests of the learner workflow: a state file with
// fixed identifiers, reading the data files back as JSON, which files a run
// changed, and an independent check of the audit chain's signatures and hash
// links (libsodium and the BLAKE3 reference code, with a canonical writer of
// its own). Header-only, after run_support.h.

#include "run_support.h"

#include <gtest/gtest.h>
#include <simdjson.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The BLAKE3 reference implementation, declared here with an opaque hasher so
// the test does not depend on its header's location; the buffer below is
// larger than the hasher's state.
extern "C" {
void blake3_hasher_init(void* self);
void blake3_hasher_update(void* self, void const* input, std::size_t input_len);
void blake3_hasher_finalize(void const* self, std::uint8_t* out, std::size_t out_len);
}

namespace e2e {

inline constexpr char const* state_file = "corvella-state.json";
inline constexpr char const* key_file = "corvella-signing-key.hex";
inline constexpr char const* audit_file = "corvella-audit.json";

// Fixed identifiers of the fixture records.
inline constexpr char const* fixture_assessment = "aaaaaaaa-aaaa-4aaa-8aaa-aaaaaaaaaaaa";
inline constexpr char const* fixture_course = "cccccccc-cccc-4ccc-8ccc-cccccccccccc";
inline constexpr char const* fixture_tenant = "7e7e7e7e-7e7e-4e7e-8e7e-7e7e7e7e7e7e";
inline constexpr char const* fixture_workspace = "57575757-5757-4757-8757-575757575757";
inline constexpr char const* fixture_principal = "9a9a9a9a-9a9a-4a9a-8a9a-9a9a9a9a9a9a";
inline constexpr char const* fixture_assignment = "5a5a5a5a-5a5a-4a5a-8a5a-5a5a5a5a5a5a";
inline constexpr char const* fixture_completion = "c0c0c0c0-c0c0-4c0c-8c0c-c0c0c0c0c0c0";
inline constexpr char const* fixture_attempt = "a7a7a7a7-a7a7-4a7a-8a7a-a7a7a7a7a7a7";
// The fixture's answer key and one answer set of each outcome.
inline constexpr char const* all_correct = "1,0,2";
inline constexpr char const* two_correct = "1,0,0";
inline constexpr char const* one_correct = "1,1,1";

// A three-question assessment (answer key 1, 0, 2; two correct to pass).
inline std::string fixture_assessment_json(std::string_view status, unsigned attempt_limit,
                                           std::string_view id = fixture_assessment)
{
    return std::string(R"({"id":")") + std::string(id) + R"(","course_id":")" + fixture_course
        + R"(","title":"Fixture","version":1,"status":")" + std::string(status)
        + R"(","passing_rule":{"minimum_correct":{"min_correct":2,"total_questions":3}},"questions":[)"
          R"({"id":"11111111-1111-4111-8111-111111111111","prompt":"One?","choices":["a","b","c"],"correct_index":1},)"
          R"({"id":"22222222-2222-4222-8222-222222222222","prompt":"Two?","choices":["a","b","c"],"correct_index":0},)"
          R"({"id":"33333333-3333-4333-8333-333333333333","prompt":"Three?","choices":["a","b","c"],"correct_index":2}],)"
          R"("attempt_limit":)"
        + std::to_string(attempt_limit) + "}";
}

// An assignment of the fixture assessment; due_at is JSON (a quoted instant or null).
inline std::string fixture_assignment_json(std::string_view status, std::string_view due_at = "null",
                                           std::string_view id = fixture_assignment,
                                           std::string_view assessment = fixture_assessment)
{
    bool const completed = status == "completed";
    return std::string(R"({"id":")") + std::string(id) + R"(","tenant_id":")" + fixture_tenant
        + R"(","workspace_id":")" + fixture_workspace + R"(","principal_id":")" + fixture_principal
        + R"(","course_id":")" + fixture_course + R"(","assessment_id":")" + std::string(assessment)
        + R"(","assignment_reason":"manual_assignment","due_at":)" + std::string(due_at) + R"(,"status":")"
        + std::string(status)
        + R"(","created_at":"2026-01-01T00:00:00Z","updated_at":"2026-01-01T00:00:00Z","completed_at":)"
        + (completed ? R"("2026-01-01T00:00:00Z")" : "null") + "}";
}

// A completion record of the fixture assignment at the given assessment version.
inline std::string fixture_completion_json(unsigned version = 1, std::string_view assessment = fixture_assessment)
{
    return std::string(R"({"id":")") + fixture_completion + R"(","tenant_id":")" + fixture_tenant
        + R"(","workspace_id":")" + fixture_workspace + R"(","principal_id":")" + fixture_principal
        + R"(","assignment_id":")" + fixture_assignment + R"(","assessment_id":")" + std::string(assessment)
        + R"(","assessment_version":)" + std::to_string(version) + R"(,"attempt_id":")" + fixture_attempt
        + R"(","score_band":"pass","completed_at":"2026-01-01T00:00:00Z","expires_at":null,"evidence_ref":null})";
}

inline std::string join_records(std::vector<std::string> const& records)
{
    std::string out = "[";
    for (std::size_t index = 0; index < records.size(); ++index)
        out += (index == 0 ? "" : ",") + records[index];
    return out + "]";
}

struct FixtureState {
    std::vector<std::string> assessments {};
    std::vector<std::string> assignments {};
    std::vector<std::string> completions {};
    std::vector<std::string> certificates {};
};

inline std::string state_json(FixtureState const& state)
{
    return R"({"assessments":)" + join_records(state.assessments) + R"(,"assignments":)"
        + join_records(state.assignments) + R"(,"attempts":[],"completions":)" + join_records(state.completions)
        + R"(,"certificates":)" + join_records(state.certificates) + "}";
}

// The published fixture assessment with one assigned assignment and one
// completion record.
inline std::string standard_state(unsigned attempt_limit = 2)
{
    return state_json({ .assessments = { fixture_assessment_json("published", attempt_limit) },
                        .assignments = { fixture_assignment_json("assigned") },
                        .completions = { fixture_completion_json() } });
}

// Every regular file of the directory with its content.
using Snapshot = std::map<std::string, std::string>;

inline Snapshot snapshot(std::filesystem::path const& directory)
{
    Snapshot files;
    for (auto const& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = read_file(entry.path());
    }
    return files;
}

// The names created, changed or removed between two snapshots, sorted.
inline Names changed_files(Snapshot const& before, Snapshot const& after)
{
    Names names;
    for (auto const& [name, content] : after) {
        auto const old = before.find(name);
        if (old == before.end() || old->second != content)
            names.push_back(name);
    }
    for (auto const& [name, content] : before) {
        if (after.find(name) == after.end())
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a run must print, its exit status and which files it may change.
struct Outcome {
    std::string out {};
    std::string err {};
    int status { 1 };
    Names changed {};
};

inline void expect_outcome(std::filesystem::path const& directory, std::vector<std::string> const& arguments,
                           Outcome const& expected)
{
    auto const before = snapshot(directory);
    auto const result = run(directory, arguments);
    EXPECT_EQ(result.out, expected.out);
    EXPECT_EQ(result.err, expected.err);
    EXPECT_EQ(result.status, expected.status);
    EXPECT_EQ(changed_files(before, snapshot(directory)), expected.changed);
}

// A data file read back as JSON; members are looked up by JSON pointer. A
// missing member or one of the wrong type fails the test and reads as empty.
class JsonFile {
public:
    explicit JsonFile(std::filesystem::path const& path) : m_text(read_file(path))
    {
        if (m_parser.parse(m_text).get(m_root) != simdjson::SUCCESS)
            ADD_FAILURE() << path << " is not JSON";
    }
    JsonFile(JsonFile const&) = delete;
    JsonFile& operator=(JsonFile const&) = delete;

    simdjson::dom::element at(std::string_view pointer) const
    {
        simdjson::dom::element element;
        if (m_root.at_pointer(pointer).get(element) != simdjson::SUCCESS)
            ADD_FAILURE() << "no member " << pointer;
        return element;
    }
    bool has(std::string_view pointer) const
    {
        simdjson::dom::element element;
        return m_root.at_pointer(pointer).get(element) == simdjson::SUCCESS;
    }
    std::string text(std::string_view pointer) const
    {
        std::string_view value;
        if (at(pointer).get(value) != simdjson::SUCCESS)
            ADD_FAILURE() << pointer << " is not a string";
        return std::string(value);
    }
    std::uint64_t number(std::string_view pointer) const
    {
        std::uint64_t value = 0;
        if (at(pointer).get(value) != simdjson::SUCCESS)
            ADD_FAILURE() << pointer << " is not an unsigned integer";
        return value;
    }
    std::size_t size(std::string_view pointer) const
    {
        simdjson::dom::array array;
        if (at(pointer).get(array) != simdjson::SUCCESS)
            ADD_FAILURE() << pointer << " is not an array";
        return array.size();
    }
    // The member names of an object, in file order.
    Names keys(std::string_view pointer) const
    {
        Names names;
        simdjson::dom::object object;
        if (at(pointer).get(object) != simdjson::SUCCESS) {
            ADD_FAILURE() << pointer << " is not an object";
            return names;
        }
        for (auto field : object)
            names.emplace_back(field.key);
        return names;
    }

private:
    std::string m_text;
    simdjson::dom::parser m_parser;
    simdjson::dom::element m_root;
};

// Canonical JSON written without the code under test: members sorted by
// their bytes, no whitespace, integers only, the fixed escapes. Composition
// of combining marks is left out: the records checked here are ASCII.
inline void append_canonical_string(std::string& out, std::string_view text)
{
    out.push_back('"');
    for (char const c : text) {
        auto const byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
                out += escaped;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

inline void append_canonical(std::string& out, simdjson::dom::element element)
{
    switch (element.type()) {
    case simdjson::dom::element_type::ARRAY: {
        out.push_back('[');
        bool first = true;
        simdjson::dom::array array;
        if (element.get(array) != simdjson::SUCCESS)
            ADD_FAILURE() << "not an array";
        for (auto item : array) {
            if (!first)
                out.push_back(',');
            first = false;
            append_canonical(out, item);
        }
        out.push_back(']');
        return;
    }
    case simdjson::dom::element_type::OBJECT: {
        std::vector<std::pair<std::string, simdjson::dom::element>> members;
        simdjson::dom::object object;
        if (element.get(object) != simdjson::SUCCESS)
            ADD_FAILURE() << "not an object";
        for (auto field : object)
            members.emplace_back(std::string(field.key), field.value);
        std::stable_sort(members.begin(), members.end(),
                         [](auto const& left, auto const& right) { return left.first < right.first; });
        out.push_back('{');
        for (std::size_t index = 0; index < members.size(); ++index) {
            if (index > 0)
                out.push_back(',');
            append_canonical_string(out, members[index].first);
            out.push_back(':');
            append_canonical(out, members[index].second);
        }
        out.push_back('}');
        return;
    }
    case simdjson::dom::element_type::INT64:
        out += std::to_string(element.get_int64().value_unsafe());
        return;
    case simdjson::dom::element_type::UINT64:
        out += std::to_string(element.get_uint64().value_unsafe());
        return;
    case simdjson::dom::element_type::DOUBLE:
        ADD_FAILURE() << "a floating-point number cannot be canonicalised";
        return;
    case simdjson::dom::element_type::STRING:
        append_canonical_string(out, element.get_string().value_unsafe());
        return;
    case simdjson::dom::element_type::BOOL:
        out += element.get_bool().value_unsafe() ? "true" : "false";
        return;
    case simdjson::dom::element_type::NULL_VALUE:
        out += "null";
        return;
    }
}

inline std::string canonical(simdjson::dom::element element)
{
    std::string out;
    append_canonical(out, element);
    return out;
}

inline std::string hex(std::uint8_t const* bytes, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t index = 0; index < size; ++index) {
        out.push_back(digits[bytes[index] >> 4]);
        out.push_back(digits[bytes[index] & 0x0f]);
    }
    return out;
}

inline std::optional<std::vector<std::uint8_t>> unhex(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t index = 0; index < text.size(); index += 2) {
        unsigned value = 0;
        if (std::sscanf(std::string(text.substr(index, 2)).c_str(), "%2x", &value) != 1)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

// "blake3:" and the 64 hex digits of the BLAKE3 hash of the bytes.
inline std::string blake3_text(std::string_view bytes)
{
    alignas(64) std::array<unsigned char, 4096> hasher {};
    std::array<std::uint8_t, 32> digest {};
    blake3_hasher_init(hasher.data());
    blake3_hasher_update(hasher.data(), bytes.data(), bytes.size());
    blake3_hasher_finalize(hasher.data(), digest.data(), digest.size());
    return "blake3:" + hex(digest.data(), digest.size());
}

// The Ed25519 public key of a key file's seed.
inline std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_key_of(std::string const& seed_hex)
{
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_key {};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret_key {};
    auto const seed = unhex(seed_hex);
    if (!seed || seed->size() != crypto_sign_SEEDBYTES || sodium_init() < 0) {
        ADD_FAILURE() << "not a seed: " << seed_hex;
        return public_key;
    }
    crypto_sign_seed_keypair(public_key.data(), secret_key.data(), seed->data());
    return public_key;
}

// The signature text of the bytes under a key file's seed.
inline std::string sign_text(std::string const& seed_hex, std::string_view bytes)
{
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_key {};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret_key {};
    std::array<std::uint8_t, crypto_sign_BYTES> signature {};
    auto const seed = unhex(seed_hex);
    if (!seed || seed->size() != crypto_sign_SEEDBYTES || sodium_init() < 0) {
        ADD_FAILURE() << "not a seed: " << seed_hex;
        return {};
    }
    crypto_sign_seed_keypair(public_key.data(), secret_key.data(), seed->data());
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<unsigned char const*>(bytes.data()), bytes.size(),
                         secret_key.data());
    return hex(signature.data(), signature.size());
}

// Checks every entry of the audit file as a reader of the format would:
// sequences 1, 2, ..., each signature over the canonical bytes of its event,
// and each event after the first linked to the BLAKE3 hash of the previous
// event's canonical bytes.
inline ::testing::AssertionResult audit_chain_holds(std::filesystem::path const& audit_path, std::string const& seed_hex)
{
    JsonFile const chain(audit_path);
    auto const public_key = public_key_of(seed_hex);
    std::string previous_hash;
    std::size_t const count = chain.size("");
    for (std::size_t index = 0; index < count; ++index) {
        std::string const entry = "/" + std::to_string(index);
        if (chain.number(entry + "/sequence") != index + 1)
            return ::testing::AssertionFailure() << "entry " << index << " has the wrong sequence";
        std::string const bytes = canonical(chain.at(entry + "/event"));
        auto const signature = unhex(chain.text(entry + "/signature"));
        if (!signature || signature->size() != crypto_sign_BYTES
            || crypto_sign_verify_detached(signature->data(), reinterpret_cast<unsigned char const*>(bytes.data()),
                                           bytes.size(), public_key.data())
                != 0)
            return ::testing::AssertionFailure() << "entry " << index << " is not signed over " << bytes;
        bool const linked = chain.has(entry + "/event/previous_event_hash");
        if (index == 0 && linked)
            return ::testing::AssertionFailure() << "the first entry carries a previous hash";
        if (index > 0 && (!linked || chain.text(entry + "/event/previous_event_hash") != previous_hash))
            return ::testing::AssertionFailure() << "entry " << index << " is not linked to " << previous_hash;
        previous_hash = blake3_text(bytes);
    }
    return ::testing::AssertionSuccess();
}

// The output lines of a run, each with its line feed removed.
inline std::vector<std::string> lines(std::string const& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        auto const end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return result;
}

// Unix seconds in the RFC 3339 form the tool writes.
inline std::string utc_text(std::time_t seconds)
{
    std::tm parts {};
    ::gmtime_r(&seconds, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buffer;
}

// The Unix seconds of an instant in the tool's RFC 3339 form.
inline std::int64_t unix_seconds(std::string const& text)
{
    std::tm parts {};
    if (::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts) == nullptr)
        ADD_FAILURE() << "not an instant: " << text;
    return static_cast<std::int64_t>(::timegm(&parts));
}

// True when the text is the RFC 3339 form of one of the seconds from
// `earliest` to `latest`: how an instant read from the clock is checked.
inline bool is_instant_between(std::string const& text, std::time_t earliest, std::time_t latest)
{
    for (std::time_t seconds = earliest; seconds <= latest; ++seconds) {
        if (text == utc_text(seconds))
            return true;
    }
    return false;
}

// The first 8 hex digits and the ellipsis, as error texts show some identifiers.
inline std::string short_form(std::string const& id) { return id.substr(0, 8) + "\u2026"; }

// Replaces the first occurrence of `from` at or after `after`; fails the test when absent.
inline std::string replace_once(std::string text, std::string const& from, std::string const& to, std::size_t after = 0)
{
    auto const position = text.find(from, after);
    if (position == std::string::npos) {
        ADD_FAILURE() << "no " << from;
        return text;
    }
    return text.replace(position, from.size(), to);
}

} // namespace e2e

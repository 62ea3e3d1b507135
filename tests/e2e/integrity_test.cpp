// The audit chain as a reader of the format sees it: every event's members,
// signatures checked with libsodium over canonical bytes built here, hash
// links recomputed with the BLAKE3 reference code, and each kind of tampering
// caught by `audit verify` at the right entry; signed checkpoints built here
// from the signed-note format, and each way of losing entries they expose.

#include "workflow_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using e2e::JsonFile;
using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;

std::string const fixture_tenant = e2e::fixture_tenant;
std::string const fixture_workspace = e2e::fixture_workspace;
std::string const fixture_principal = e2e::fixture_principal;

TEST(IndependentHash, Blake3ReferenceAnswers)
{
    // From BLAKE3's test_vectors.json: the empty input, and one byte 0x00.
    EXPECT_EQ(e2e::blake3_text(""), "blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
    EXPECT_EQ(e2e::blake3_text(std::string(1, '\0')),
              "blake3:2d3adedff11b61f14c886e35afa036736dcd87a74d27b5c1510225d0f592e213");
}

TEST(IndependentCanonicalForm, SortsMembersAndEscapes)
{
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    simdjson::padded_string const text(std::string(R"({"b":1,"a":[true,null,"x\n\u0001/é"],"B":-2,"ab":{}})"));
    ASSERT_EQ(parser.parse(text).get(element), simdjson::SUCCESS);
    EXPECT_EQ(e2e::canonical(element), "{\"B\":-2,\"a\":[true,null,\"x\\n\\u0001/é\"],\"ab\":{},\"b\":1}");
}

// The chain file's entries as the texts between its brackets, and back.
std::vector<std::string> split_entries(std::string const& text)
{
    std::string const separator = "\n  },\n  {\n";
    std::string body = text.substr(2, text.size() - 4); // without "[\n" and "\n]"
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (auto end = body.find(separator); end != std::string::npos; end = body.find(separator, start)) {
        entries.push_back(body.substr(start, end - start) + "\n  }");
        start = end + separator.size() - std::string("  {\n").size();
    }
    entries.push_back(body.substr(start));
    return entries;
}

std::string join_entries(std::vector<std::string> const& entries)
{
    std::string text = "[\n";
    for (std::size_t index = 0; index < entries.size(); ++index)
        text += (index == 0 ? "" : ",\n") + entries[index];
    return text + "\n]";
}

// Signs the entry's event again, with a canonical form of the test's own.
std::string resign(std::string const& entry, std::string const& seed_hex)
{
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    simdjson::padded_string const text(entry);
    if (parser.parse(text).get(element) != simdjson::SUCCESS) {
        ADD_FAILURE() << "not an entry: " << entry;
        return entry;
    }
    simdjson::dom::element event;
    std::string_view old_signature;
    if (element["event"].get(event) != simdjson::SUCCESS || element["signature"].get(old_signature) != simdjson::SUCCESS)
        ADD_FAILURE() << "not an entry: " << entry;
    return e2e::replace_once(entry, std::string(old_signature), e2e::sign_text(seed_hex, e2e::canonical(event)));
}

// A published assessment and an assignment with fixed identifiers; the given
// number of failed attempts makes one audit event each.
void failed_attempts(ScratchDirectory const& directory, int count)
{
    e2e::write_file(directory / e2e::state_file, e2e::standard_state(/*attempt_limit=*/5));
    for (int index = 0; index < count; ++index) {
        auto const result = run(directory.path(), { "attempt", "--assignment-id", e2e::fixture_assignment,
                                                    "--answers", e2e::one_correct });
        ASSERT_EQ(result.status, 0) << result.err;
    }
}

TEST(AuditChain, EveryEventOfTheWorkflowAsWritten)
{
    ScratchDirectory directory;
    e2e::write_file(directory / e2e::state_file, e2e::standard_state());
    auto const step = [&](std::vector<std::string> const& arguments) {
        auto const result = run(directory.path(), arguments);
        EXPECT_EQ(result.err.empty(), result.status == 0) << result.err;
        return result;
    };
    step({ "assign", "--assessment-id", e2e::fixture_assessment, "--tenant-id", fixture_tenant, "--workspace-id",
           fixture_workspace, "--principal-id", fixture_principal, "--reason", "security-remediation" });
    std::string const assignment = JsonFile(directory / e2e::state_file).text("/assignments/1/id");
    step({ "attempt", "--assignment-id", assignment, "--answers", e2e::one_correct });
    step({ "attempt", "--assignment-id", assignment, "--answers", e2e::all_correct });
    std::string const completion = JsonFile(directory / e2e::state_file).text("/completions/1/id");
    step({ "certify", "--completion-id", completion });
    std::string const certificate = JsonFile(directory / e2e::state_file).text("/certificates/0/payload/certificate_id");
    EXPECT_EQ(step({ "verify", "--certificate-id", certificate, "--at", "3000-01-01T00:00:00Z" }).status, 1);

    JsonFile const state(directory / e2e::state_file);
    EXPECT_EQ(state.text("/assignments/1/assignment_reason"), "security_remediation");
    struct Row {
        std::string action;
        std::string actor_type;
        std::string actor_id; // "" when absent
        std::string target_type;
        std::string target_id;
        std::string result;
        std::string severity;
        std::string category;
        std::string retention_class;
        std::string occurred_at;
    };
    std::vector<Row> const rows {
        { "training.assignment.created", "user", fixture_principal, "training_assignment", assignment, "success", "info",
          "policy", "operational", state.text("/assignments/1/created_at") },
        { "training.knowledge_check.attempted", "user", fixture_principal, "knowledge_check_attempt",
          state.text("/attempts/0/id"), "denied", "notice", "privacy", "privacy_sensitive",
          state.text("/attempts/0/completed_at") },
        { "training.knowledge_check.attempted", "user", fixture_principal, "knowledge_check_attempt",
          state.text("/attempts/1/id"), "success", "info", "privacy", "privacy_sensitive",
          state.text("/attempts/1/completed_at") },
        { "training.assignment.completed", "user", fixture_principal, "training_assignment", assignment, "success",
          "info", "policy", "operational", state.text("/assignments/1/completed_at") },
        { "training.certificate.issued", "user", fixture_principal, "certificate", certificate, "success", "info",
          "security", "security", state.text("/certificates/0/payload/issued_at") },
        { "training.certificate.verification_failed", "unknown", "", "certificate", certificate, "denied", "notice",
          "security", "security", "3000-01-01T00:00:00Z" },
    };
    JsonFile const audit(directory / e2e::audit_file);
    ASSERT_EQ(audit.size(""), rows.size());
    Names const event_members { "event_id", "tenant_id",  "workspace_id", "product_id",  "actor",           "target",
                                "action",   "result",     "severity",     "category",    "occurred_at",     "retention_class" };
    for (std::size_t index = 0; index < rows.size(); ++index) {
        auto const& row = rows[index];
        std::string const event = "/" + std::to_string(index) + "/event";
        SCOPED_TRACE(row.action);
        EXPECT_EQ(audit.keys("/" + std::to_string(index)), (Names { "event", "sequence", "signature" }));
        Names members = event_members;
        if (index > 0)
            members.push_back("previous_event_hash");
        EXPECT_EQ(audit.keys(event), members);
        EXPECT_EQ(audit.text(event + "/action"), row.action);
        EXPECT_EQ(audit.text(event + "/tenant_id"), fixture_tenant);
        EXPECT_EQ(audit.text(event + "/workspace_id"), fixture_workspace);
        EXPECT_EQ(audit.text(event + "/product_id"), "corvella");
        EXPECT_EQ(audit.text(event + "/actor/actor_type"), row.actor_type);
        if (row.actor_id.empty()) {
            EXPECT_EQ(audit.keys(event + "/actor"), Names { "actor_type" });
        } else {
            EXPECT_EQ(audit.keys(event + "/actor"), (Names { "actor_type", "actor_id" }));
            EXPECT_EQ(audit.text(event + "/actor/actor_id"), row.actor_id);
        }
        EXPECT_EQ(audit.keys(event + "/target"), (Names { "target_type", "target_id" }));
        EXPECT_EQ(audit.text(event + "/target/target_type"), row.target_type);
        EXPECT_EQ(audit.text(event + "/target/target_id"), row.target_id);
        EXPECT_EQ(audit.text(event + "/result"), row.result);
        EXPECT_EQ(audit.text(event + "/severity"), row.severity);
        EXPECT_EQ(audit.text(event + "/category"), row.category);
        EXPECT_EQ(audit.text(event + "/retention_class"), row.retention_class);
        EXPECT_EQ(audit.text(event + "/occurred_at"), row.occurred_at);
    }
    EXPECT_TRUE(e2e::audit_chain_holds(directory / e2e::audit_file, e2e::read_file(directory / e2e::key_file)));
}

TEST(AuditChain, TamperingIsFoundAtTheRightEntry)
{
    std::string const prefix = "Error: audit chain verification failed: ";
    std::string const signature = prefix + "signature verification failed\n";
    auto const broken_at = [&](int sequence) {
        return prefix + "validation failed: audit chain broken at sequence " + std::to_string(sequence)
            + ": previous-hash link does not match the preceding event\n";
    };
    using Entries = std::vector<std::string>;
    struct Row {
        std::string name;
        std::function<void(Entries&, std::string& seed)> tamper;
        std::string err; // "" when the chain still verifies
    };
    std::vector<Row> const rows {
        { "edit a member", [](Entries& entries, std::string&) {
              entries[1] = e2e::replace_once(entries[1], "\"result\": \"denied\"", "\"result\": \"success\"");
          }, signature },
        { "edit a member and sign again", [](Entries& entries, std::string& seed) {
              entries[1] = resign(e2e::replace_once(entries[1], "\"result\": \"denied\"", "\"result\": \"success\""),
                                  seed);
          }, broken_at(3) },
        { "delete the middle entry", [](Entries& entries, std::string&) { entries.erase(entries.begin() + 1); },
          broken_at(3) },
        { "swap the last two entries", [](Entries& entries, std::string&) { std::swap(entries[1], entries[2]); },
          broken_at(3) },
        { "change a sequence", [](Entries& entries, std::string&) {
              entries[1] = e2e::replace_once(entries[1], "\"sequence\": 2,", "\"sequence\": 5,");
          }, prefix + "validation failed: audit chain sequence gap: expected 2, found 5\n" },
        { "change the first sequence", [](Entries& entries, std::string&) {
              entries[0] = e2e::replace_once(entries[0], "\"sequence\": 1,", "\"sequence\": 10,");
          }, prefix + "validation failed: audit chain sequence gap: expected 11, found 2\n" },
        { "first entry with a previous hash", [](Entries& entries, std::string&) { entries.erase(entries.begin()); },
          broken_at(2) },
        { "different key", [](Entries&, std::string& seed) { seed = std::string(64, '7'); }, signature },
        { "remove the last entry", [](Entries& entries, std::string&) { entries.pop_back(); }, "" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory directory;
        failed_attempts(directory, 3);
        auto entries = split_entries(e2e::read_file(directory / e2e::audit_file));
        ASSERT_EQ(entries.size(), 3u);
        ASSERT_EQ(join_entries(entries), e2e::read_file(directory / e2e::audit_file));
        std::string seed = e2e::read_file(directory / e2e::key_file);
        row.tamper(entries, seed);
        e2e::write_file(directory / e2e::audit_file, join_entries(entries));
        e2e::write_file(directory / e2e::key_file, seed);

        auto const before = e2e::snapshot(directory.path());
        auto const verified = run(directory.path(), { "audit", "verify" });
        EXPECT_EQ(e2e::changed_files(before, e2e::snapshot(directory.path())), Names {});
        if (row.err.empty()) {
            EXPECT_EQ(verified.status, 0);
            EXPECT_EQ(verified.out, "audit chain verifies: 2 event(s), all links and signatures intact\n");
            continue;
        }
        EXPECT_EQ(verified.status, 1);
        EXPECT_EQ(verified.out, "");
        EXPECT_EQ(verified.err, row.err);

        // doctor names the same break as its audit chain problem.
        auto const doctor = run(directory.path(), { "doctor" });
        EXPECT_EQ(doctor.status, 1);
        EXPECT_EQ(doctor.err, "PROBLEM: audit chain: " + row.err.substr(std::string("Error: ").size())
                                  + "Error: 1 problem(s) found\n");
    }
}

TEST(AuditChain, AppendsContinueAfterTheLastEntryAndEmptyChainsVerify)
{
    ScratchDirectory directory;
    auto const empty = run(directory.path(), { "audit", "verify" });
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "audit chain verifies: 0 event(s), all links and signatures intact\n");
    EXPECT_EQ(e2e::entries(directory.path()), Names { e2e::key_file });

    // A shortened chain continues from its new last entry.
    failed_attempts(directory, 3);
    auto entries = split_entries(e2e::read_file(directory / e2e::audit_file));
    entries.pop_back();
    e2e::write_file(directory / e2e::audit_file, join_entries(entries));
    failed_attempts(directory, 1);
    JsonFile const audit(directory / e2e::audit_file);
    ASSERT_EQ(audit.size(""), 3u);
    EXPECT_EQ(audit.number("/2/sequence"), 3u);
    EXPECT_TRUE(e2e::audit_chain_holds(directory / e2e::audit_file, e2e::read_file(directory / e2e::key_file)));
}

// A learner's history made by the commands: assigned, passed, certified and
// revoked, five events. Returns the stored identifiers by name.
std::map<std::string, std::string> certified_and_revoked(ScratchDirectory const& directory)
{
    e2e::write_file(directory / e2e::state_file,
                    e2e::state_json({ .assessments = { e2e::fixture_assessment_json("published", 2) } }));
    auto const stored = [&](std::string const& pointer) { return JsonFile(directory / e2e::state_file).text(pointer); };
    auto const step = [&](std::vector<std::string> const& arguments) {
        auto const result = run(directory.path(), arguments);
        EXPECT_EQ(result.status, 0) << arguments[0] << ": " << result.err;
    };
    step({ "assign", "--assessment-id", e2e::fixture_assessment });
    step({ "attempt", "--assignment-id", stored("/assignments/0/id"), "--answers", e2e::all_correct });
    step({ "certify", "--completion-id", stored("/completions/0/id") });
    step({ "revoke", "--certificate-id", stored("/certificates/0/payload/certificate_id"), "--reason", "issued in error" });
    return { { "assignment", stored("/assignments/0/id") },
             { "certificate", stored("/certificates/0/payload/certificate_id") },
             { "revoked_at", stored("/certificates/0/revocation/revoked_at") } };
}

// The text with the member `name` of the first object that has it removed,
// from its preceding comma to its closing brace at the given indent.
std::string without_member(std::string const& text, std::string const& name, std::string const& indent)
{
    auto const start = text.find(",\n" + indent + "\"" + name + "\": {");
    auto const end = text.find("\n" + indent + "}", start);
    EXPECT_NE(start, std::string::npos) << name;
    return text.substr(0, start) + text.substr(end + indent.size() + 2);
}

// Each way the state file can part from the chain, made by editing a state
// the commands built: one problem line each, the chain itself intact.
TEST(AuditReconcile, EachTamperingOfTheStateIsFound)
{
    std::string const chain_ahead = " (removed from it, or never stored there by a command interrupted between "
                                    "replacing the audit chain and the state file)";
    auto const problem = [](std::size_t events, std::string const& line) {
        return e2e::Outcome { .out = "state file and audit chain disagree: 1 problem(s) in 4 record(s), "
                                  + std::to_string(events) + " event(s)\n",
                              .err = "PROBLEM: " + line + "\nError: 1 problem(s) found\n" };
    };
    using Ids = std::map<std::string, std::string>;
    struct Row {
        std::string name;
        std::function<void(ScratchDirectory const&, Ids&)> tamper;
        std::function<e2e::Outcome(Ids const&)> expected;
    };
    std::string const state = e2e::state_file;
    std::vector<Row> const rows {
        { "nothing changed", [](ScratchDirectory const&, Ids&) { },
          [](Ids const&) {
              return e2e::Outcome { .out = "state file and audit chain agree: 4 record(s), 5 event(s)\n", .status = 0 };
          } },
        { "a revocation removed",
          [&](ScratchDirectory const& directory, Ids&) {
              e2e::write_file(directory / state, without_member(e2e::read_file(directory / state), "revocation", "      "));
          },
          [&](Ids const& ids) {
              return problem(5, "training.certificate.revoked event at sequence 5 revokes certificate "
                                    + ids.at("certificate") + ", but the state file does not hold its revocation"
                                    + chain_ahead);
          } },
        { "an assignment without its event, stored by a run with another chain",
          [&](ScratchDirectory const& directory, Ids& ids) {
              auto const result = run(directory.path(), { "--json", "--audit", "other-audit.json", "assign",
                                                          "--assessment-id", e2e::fixture_assessment });
              ids["second"] = JsonFile(directory / state).text("/assignments/1/id");
              std::filesystem::remove(directory / "other-audit.json");
              EXPECT_EQ(result.status, 0) << result.err;
          },
          [&](Ids const& ids) {
              auto outcome = problem(5, "assignment " + ids.at("second")
                                            + " has no training.assignment.created event in the audit chain");
              outcome.out = e2e::replace_once(outcome.out, "4 record(s)", "5 record(s)");
              return outcome;
          } },
        { "an event without its record",
          [&](ScratchDirectory const& directory, Ids&) {
              std::string const text = e2e::read_file(directory / state);
              auto const start = text.find("\"assignments\": [") + std::string("\"assignments\": [").size();
              e2e::write_file(directory / state, text.substr(0, start) + text.substr(text.find("\n  ]", start) + 3));
          },
          [&](Ids const& ids) {
              auto outcome = problem(5, "training.assignment.created event at sequence 1 names assignment "
                                            + ids.at("assignment") + ", which the state file does not hold" + chain_ahead);
              outcome.out = e2e::replace_once(outcome.out, "4 record(s)", "3 record(s)");
              return outcome;
          } },
        { "a certificate's expiry edited",
          [&](ScratchDirectory const& directory, Ids&) {
              std::string const text = e2e::read_file(directory / state);
              auto const at = text.find("\"expires_at\": \"") + std::string("\"expires_at\": \"").size();
              e2e::write_file(directory / state, text.substr(0, at) + "2999" + text.substr(at + 4));
          },
          [&](Ids const& ids) {
              return problem(5, "certificate " + ids.at("certificate")
                                    + " fails signature verification under the signing key");
          } },
        { "a chain that no longer verifies",
          [](ScratchDirectory const& directory, Ids&) { e2e::write_file(directory / e2e::key_file, std::string(64, '7')); },
          [](Ids const&) {
              return e2e::Outcome { .err = "Error: audit chain verification failed: signature verification failed\n" };
          } },
        { "no key to check with",
          [](ScratchDirectory const& directory, Ids&) { std::filesystem::remove(directory / e2e::key_file); },
          [](Ids const&) {
              return e2e::Outcome { .err = "Error: no signing key at corvella-signing-key.hex: the audit chain and the "
                                           "certificates cannot be checked without it\n" };
          } },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory directory;
        Ids ids = certified_and_revoked(directory);
        row.tamper(directory, ids);
        e2e::expect_outcome(directory.path(), { "audit", "reconcile" }, row.expected(ids));
    }
}

// A revocation the chain holds outranks a state file that lost it: verify
// and credential export refuse the certificate and write nothing.
TEST(AuditReconcile, VerifyAndExportRefuseARevocationOnlyTheChainHolds)
{
    ScratchDirectory directory;
    auto const ids = certified_and_revoked(directory);
    std::string const state = e2e::read_file(directory / e2e::state_file);
    e2e::write_file(directory / e2e::state_file, without_member(state, "revocation", "      "));
    std::string const refusal = "certificate " + ids.at("certificate") + " is revoked by the audit chain at "
        + ids.at("revoked_at") + ", but the state file does not hold its revocation";
    e2e::expect_outcome(directory.path(), { "verify", "--certificate-id", ids.at("certificate") },
                        { .err = "Error: " + refusal + "\n" });
    e2e::expect_outcome(directory.path(), { "credential", "export", "--certificate-id", ids.at("certificate") },
                        { .err = "Error: certificate " + ids.at("certificate") + " cannot be exported: " + refusal + "\n" });
}

// Base64 with padding, as the signed-note format writes it.
std::string base64(std::vector<std::uint8_t> const& bytes)
{
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

// The signed-note key id: the first four bytes of SHA-256 of the name, a line
// feed, the Ed25519 signature type 0x01 and the public key.
std::vector<std::uint8_t> note_key_id(std::string const& name, std::string const& seed_hex)
{
    auto const public_key = e2e::public_key_of(seed_hex);
    std::string input = name + "\n" + '\x01';
    input.append(reinterpret_cast<char const*>(public_key.data()), public_key.size());
    std::array<std::uint8_t, crypto_hash_sha256_BYTES> digest {};
    crypto_hash_sha256(digest.data(), reinterpret_cast<unsigned char const*>(input.data()), input.size());
    return { digest.begin(), digest.begin() + 4 };
}

// One origin per key: the fixed name and the key id taken over it.
std::string origin_of(std::string const& seed_hex)
{
    auto const id = note_key_id("corvellactl-audit/", seed_hex);
    return "corvellactl-audit/" + e2e::hex(id.data(), id.size());
}

// The chain file's entries as the leaves of its Merkle tree: each entry's
// canonical JSON, as this test builds it.
std::vector<std::string> leaves_of(ScratchDirectory const& directory)
{
    std::vector<std::string> leaves;
    if (!std::filesystem::exists(directory / e2e::audit_file))
        return leaves;
    JsonFile const chain(directory / e2e::audit_file);
    for (std::size_t index = 0; index < chain.size(""); ++index)
        leaves.push_back(e2e::canonical(chain.at("/" + std::to_string(index))));
    return leaves;
}

std::vector<std::uint8_t> sha256(std::string const& bytes)
{
    std::vector<std::uint8_t> digest(crypto_hash_sha256_BYTES);
    crypto_hash_sha256(digest.data(), reinterpret_cast<unsigned char const*>(bytes.data()), bytes.size());
    return digest;
}

// The RFC 6962 tree hash, level by level: pairs of nodes hashed with 0x01,
// an odd node at the end carried up as it is, leaves hashed with 0x00.
std::vector<std::uint8_t> merkle_root(std::vector<std::string> const& leaves)
{
    if (leaves.empty())
        return sha256("");
    std::vector<std::vector<std::uint8_t>> level;
    for (std::string const& leaf : leaves)
        level.push_back(sha256(std::string(1, '\0') + leaf));
    while (level.size() > 1) {
        std::vector<std::vector<std::uint8_t>> next;
        for (std::size_t index = 0; index + 1 < level.size(); index += 2) {
            std::string node(1, '\x01');
            node.append(level[index].begin(), level[index].end());
            node.append(level[index + 1].begin(), level[index + 1].end());
            next.push_back(sha256(node));
        }
        if (level.size() % 2 == 1)
            next.push_back(level.back());
        level = std::move(next);
    }
    return level.front();
}

// A signed note of the key's origin: its three lines and the signature line.
std::string note_of(std::string const& seed, std::size_t size, std::vector<std::uint8_t> const& hash)
{
    std::string const origin = origin_of(seed);
    std::string const body = origin + "\n" + std::to_string(size) + "\n" + base64(hash) + "\n";
    auto blob = note_key_id(origin, seed);
    auto const signature = *e2e::unhex(e2e::sign_text(seed, body));
    blob.insert(blob.end(), signature.begin(), signature.end());
    return body + "\n\u2014 " + origin + " " + base64(blob) + "\n";
}

// The checkpoint a reader of the format expects for the chain file as it
// stands: origin, number of entries, base64 of the Merkle tree hash of its
// entries, a blank line and the signature line under the origin's name.
std::string expected_note(ScratchDirectory const& directory)
{
    auto const leaves = leaves_of(directory);
    return note_of(e2e::read_file(directory / e2e::key_file), leaves.size(), merkle_root(leaves));
}

std::string verified_lines(std::size_t chain_size, std::size_t checkpoint_size, std::string const& origin)
{
    return "audit chain verifies: " + std::to_string(chain_size)
        + " event(s), all links and signatures intact\ncheckpoint verifies: the chain still holds its "
        + std::to_string(checkpoint_size) + " event(s) of " + origin + "\n";
}

TEST(Checkpoint, NoteAsTheSignedNoteFormatWritesIt)
{
    ScratchDirectory directory;
    // An empty chain: size 0. The key is made first.
    auto const first = run(directory.path(), { "audit", "checkpoint" });
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(e2e::entries(directory.path()), Names { e2e::key_file });
    std::string const empty_note = expected_note(directory);
    EXPECT_EQ(first.out, empty_note);
    std::string const origin = origin_of(e2e::read_file(directory / e2e::key_file));
    // The empty tree's hash is the SHA-256 of nothing.
    EXPECT_EQ(empty_note.substr(0, empty_note.find("\n\n")),
              origin + "\n0\n47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
    e2e::expect_outcome(directory.path(), { "audit", "checkpoint" }, { .out = empty_note, .status = 0 });
    e2e::write_file(directory / "empty.note", empty_note);

    failed_attempts(directory, 3);
    std::string const note = expected_note(directory);
    e2e::expect_outcome(directory.path(), { "audit", "checkpoint" }, { .out = note, .status = 0 });
    e2e::expect_outcome(directory.path(), { "audit", "checkpoint", "--output", "three.note" },
                        { .out = "wrote checkpoint to three.note \u2014 3 event(s) of " + origin + "\n",
                          .status = 0, .changed = { "three.note" } });
    EXPECT_EQ(e2e::read_file(directory / "three.note"), note);

    e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "three.note" },
                        { .out = verified_lines(3, 3, origin), .status = 0 });
    e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "empty.note" },
                        { .out = verified_lines(3, 0, origin), .status = 0 });
}

TEST(Checkpoint, TruncationRollbackAndRewritesAreEachNamed)
{
    std::string const prefix = "Error: checkpoint verification failed: validation failed: audit chain ";
    using Entries = std::vector<std::string>;
    struct Row {
        std::string name;
        // Changes the chain; given the file as it stood after two events.
        std::function<void(ScratchDirectory const&, std::string const& older)> change;
        std::string out; // when the chain still holds the checkpoint
        std::string err;
    };
    auto const rewrite = [](ScratchDirectory const& directory, auto const& edit) {
        auto entries = split_entries(e2e::read_file(directory / e2e::audit_file));
        edit(entries);
        e2e::write_file(directory / e2e::audit_file, join_entries(entries));
    };
    std::vector<Row> const rows {
        { "untouched", [](ScratchDirectory const&, std::string const&) {}, "4", "" },
        { "grown since", [](ScratchDirectory const& directory, std::string const&) { failed_attempts(directory, 1); },
          "5", "" },
        { "last entry cut",
          [&](ScratchDirectory const& directory, std::string const&) {
              rewrite(directory, [](Entries& entries) { entries.pop_back(); });
          },
          "", prefix + "truncated or rolled back: it holds 3 event(s), the checkpoint proves 4\n" },
        { "older copy restored",
          [](ScratchDirectory const& directory, std::string const& older) {
              e2e::write_file(directory / e2e::audit_file, older);
          },
          "", prefix + "truncated or rolled back: it holds 2 event(s), the checkpoint proves 4\n" },
        { "file removed",
          [](ScratchDirectory const& directory, std::string const&) {
              std::filesystem::remove(directory / e2e::audit_file);
          },
          "", prefix + "truncated or rolled back: it holds 0 event(s), the checkpoint proves 4\n" },
        { "rewritten from an earlier entry with the same key",
          [](ScratchDirectory const& directory, std::string const& older) {
              e2e::write_file(directory / e2e::audit_file, older);
              failed_attempts(directory, 2);
          },
          "", prefix + "forked: the event at sequence 4 is not the one the checkpoint proves\n" },
        { "rewritten and grown beyond the checkpoint",
          [](ScratchDirectory const& directory, std::string const& older) {
              e2e::write_file(directory / e2e::audit_file, older);
              failed_attempts(directory, 3);
          },
          "", prefix + "forked: the event at sequence 4 is not the one the checkpoint proves\n" },
        // A chain that no longer verifies is reported as such first.
        { "entry edited",
          [&](ScratchDirectory const& directory, std::string const&) {
              rewrite(directory, [](Entries& entries) {
                  entries[0] = e2e::replace_once(entries[0], "\"result\": \"denied\"", "\"result\": \"success\"");
              });
          },
          "", "Error: audit chain verification failed: signature verification failed\n" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory directory;
        failed_attempts(directory, 2);
        std::string const older = e2e::read_file(directory / e2e::audit_file);
        failed_attempts(directory, 2);
        auto const written = run(directory.path(), { "audit", "checkpoint", "--output", "kept.note" });
        ASSERT_EQ(written.status, 0) << written.err;
        row.change(directory, older);

        std::string const origin = origin_of(e2e::read_file(directory / e2e::key_file));
        if (row.err.empty()) {
            e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "kept.note" },
                                { .out = verified_lines(std::stoul(row.out), 4, origin), .status = 0 });
        } else {
            e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "kept.note" },
                                { .err = row.err });
        }
    }
}

TEST(Checkpoint, NotesThatAreNotOursOrNotIntactAreRefused)
{
    ScratchDirectory other;
    failed_attempts(other, 2);
    auto const theirs = run(other.path(), { "audit", "checkpoint" });
    ASSERT_EQ(theirs.status, 0);

    ScratchDirectory directory;
    failed_attempts(directory, 2);
    std::string const note = expected_note(directory);
    std::string const origin = origin_of(e2e::read_file(directory / e2e::key_file));
    std::string const prefix = "Error: checkpoint verification failed: validation failed: checkpoint ";
    std::string const seed = e2e::read_file(directory / e2e::key_file);
    std::string const earlier = prefix + "is of an earlier form, whose hash line is the last event's hash rather "
                                         "than the Merkle tree hash of all its events; write a new one with `audit "
                                         "checkpoint`\n";
    auto const leaf_event = [&](std::size_t index) {
        return e2e::canonical(JsonFile(directory / e2e::audit_file).at("/" + std::to_string(index) + "/event"));
    };
    // One character of the hash line changed: the first after origin and size.
    std::string hash_changed = note;
    char& changed = hash_changed[origin.size() + std::string("\n2\n").size()];
    changed = changed == 'A' ? 'B' : 'A';
    struct Row {
        std::string name;
        std::string note;
        std::string err;
    };
    std::vector<Row> const rows {
        { "size changed", e2e::replace_once(note, "\n2\n", "\n1\n"),
          prefix + "signature does not verify under the local key\n" },
        { "hash changed", hash_changed, prefix + "signature does not verify under the local key\n" },
        { "another key's note", theirs.out,
          prefix + "origin \"" + origin_of(e2e::read_file(other / e2e::key_file)) + "\" is not this key's (" + origin
              + ")\n" },
        { "signature line removed", note.substr(0, note.find("\n\n") + 2),
          prefix + "is not a signed note: its signature lines must end with a line feed\n" },
        { "not a note", "hello\n", prefix + "is not a signed note: no blank line after its text\n" },
        // Notes of the earlier form: the hash line held the last event's
        // content hash, or zeros for an empty chain.
        { "earlier form", note_of(seed, 2, *e2e::unhex(e2e::blake3_text(leaf_event(1)).substr(7))), earlier },
        { "earlier form of an empty chain", note_of(seed, 0, std::vector<std::uint8_t>(32, 0)), earlier },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.name);
        e2e::write_file(directory / "given.note", row.note);
        e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "given.note" }, { .err = row.err });
    }
    e2e::expect_outcome(directory.path(), { "audit", "verify", "--checkpoint", "missing.note" },
                        { .err = "Error: io error: No such file or directory\n" });
}

TEST(Checkpoint, WrittenOnlyOverAChainThatVerifiesAndNeverOverADataFile)
{
    ScratchDirectory directory;
    failed_attempts(directory, 2);
    std::string const refused = "Error: --output must not be the state, key or audit file: ";
    for (std::string const& path : { std::string(e2e::audit_file), "./" + std::string(e2e::state_file),
                                     std::string(e2e::key_file), std::string("other.json") }) {
        SCOPED_TRACE(path);
        std::vector<std::string> arguments { "audit", "checkpoint", "--output", path };
        if (path == "other.json") // a data file that does not exist yet
            arguments.insert(arguments.end(), { "--audit", "other.json" });
        e2e::expect_outcome(directory.path(), arguments, { .err = refused + path + "\n" });
    }

    auto entries = split_entries(e2e::read_file(directory / e2e::audit_file));
    entries.erase(entries.begin());
    e2e::write_file(directory / e2e::audit_file, join_entries(entries));
    e2e::expect_outcome(directory.path(), { "audit", "checkpoint", "--output", "kept.note" },
                        { .err = "Error: audit chain verification failed: validation failed: audit chain broken at "
                                 "sequence 2: previous-hash link does not match the preceding event\n" });
}

// The key's three text forms, as `key public` prints them.
std::vector<std::string> key_forms(ScratchDirectory const& directory)
{
    return e2e::lines(run(directory.path(), { "key", "public" }).out);
}

// What Go's tlog and note packages say of the files, with the chain's leaves
// (tests/interop/tlog_check.go, built offline from Debian's sources): the
// root line, then "<file> ok" or "<file> fail: ..." per file.
std::vector<std::string> go_check(ScratchDirectory const& directory, std::vector<std::string> const& files)
{
    std::string leaves;
    for (std::string const& leaf : leaves_of(directory))
        leaves += base64(std::vector<std::uint8_t>(leaf.begin(), leaf.end())) + "\n";
    e2e::write_file(directory / "leaves.txt", leaves);
    std::string command = "cd '" + directory.path().string() + "' && env -i PATH=/usr/bin:/bin HOME=/nonexistent "
        "GO111MODULE=off GOPATH=" CORVELLA_GOPATH " GOPROXY=off GOFLAGS= GOCACHE=" CORVELLA_GO_CACHE " "
        CORVELLA_GO " run " CORVELLA_SOURCE_DIR "/tests/interop/tlog_check.go " + key_forms(directory).at(0)
        + " leaves.txt";
    for (std::string const& file : files)
        command += " '" + file + "'";
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        out += buffer;
    EXPECT_EQ(pipe == nullptr ? -1 : ::pclose(pipe), 0) << out;
    return e2e::lines(out);
}

// The text with one of its lines replaced.
std::string with_line_replaced(std::string const& text, std::string const& from, std::string const& to)
{
    return e2e::replace_once(text, "\n" + from + "\n", "\n" + to + "\n");
}

// A base64 line with its first character changed.
std::string changed_first(std::string const& line) { return (line[0] == 'A' ? "B" : "A") + line.substr(1); }

// Base64 of text, as proofs carry their leaves.
std::string base64_text(std::string const& text) { return base64(std::vector<std::uint8_t>(text.begin(), text.end())); }

// A log of three events, a checkpoint of them kept in old.note, and two
// events more: the proofs of one event and of the growth, each checked here
// and by Go, with nothing but the public key.
TEST(Proof, OneEventAndTheLogsGrowthCheckWithThePublicKeyAlone)
{
    ScratchDirectory directory;
    failed_attempts(directory, 3);
    ASSERT_EQ(run(directory.path(), { "audit", "checkpoint", "--output", "old.note" }).status, 0);
    std::string const old_note = e2e::read_file(directory / "old.note");
    failed_attempts(directory, 2);
    std::string const seed = e2e::read_file(directory / e2e::key_file);
    std::string const origin = origin_of(seed);
    std::string const note = expected_note(directory);
    auto const leaves = leaves_of(directory);
    JsonFile const chain(directory / e2e::audit_file);
    std::string const event = chain.text("/1/event/event_id");

    e2e::expect_outcome(directory.path(), { "audit", "prove", "--event-id", event, "--output", "event.tlog-proof" },
                        { .out = "wrote inclusion proof of event " + event + " to event.tlog-proof \u2014 index 1 of 5 "
                                 "event(s) of " + origin + "\n",
                          .status = 0, .changed = { "event.tlog-proof" } });
    std::string const proof = e2e::read_file(directory / "event.tlog-proof");
    EXPECT_TRUE(proof.starts_with("c2sp.org/tlog-proof@v1\nextra " + base64_text(leaves[1]) + "\nindex 1\n")) << proof;
    EXPECT_TRUE(proof.ends_with("\n\n" + note)) << proof;
    auto const against_old = run(directory.path(), { "audit", "prove", "--event-id", event, "--checkpoint", "old.note" });
    EXPECT_EQ(against_old.status, 0) << against_old.err;
    EXPECT_TRUE(against_old.out.ends_with("\n\n" + old_note)) << against_old.out;
    e2e::write_file(directory / "against-old.tlog-proof", against_old.out);

    e2e::expect_outcome(directory.path(), { "audit", "prove", "--from-checkpoint", "old.note", "--output", "grew.proof" },
                        { .out = "wrote consistency proof to grew.proof \u2014 from 3 to 5 event(s) of " + origin + "\n",
                          .status = 0, .changed = { "grew.proof" } });
    std::string const grew = e2e::read_file(directory / "grew.proof");
    EXPECT_TRUE(grew.starts_with("tlog-consistency-proof@v1\n")) << grew;
    EXPECT_TRUE(grew.ends_with("\n\n" + old_note + "\n" + note)) << grew;

    // The auditor holds the proofs and the public key, in any of its forms.
    ScratchDirectory auditor;
    for (std::string const name : { "event.tlog-proof", "against-old.tlog-proof", "grew.proof" })
        e2e::write_file(auditor / name, e2e::read_file(directory / name));
    std::string const shown_event = "VALID \u2014 event " + event + " (training.knowledge_check.attempted on "
        "knowledge_check_attempt " + chain.text("/1/event/target/target_id") + " at "
        + chain.text("/1/event/occurred_at") + ") is at index 1 of the ";
    for (std::string const& key : key_forms(directory)) {
        SCOPED_TRACE(key);
        e2e::expect_outcome(auditor.path(), { "audit", "verify-proof", "event.tlog-proof", "--public-key", key },
                            { .out = shown_event + "5 event(s) of " + origin + "\n", .status = 0 });
        e2e::expect_outcome(auditor.path(), { "audit", "verify-proof", "against-old.tlog-proof", "--public-key", key },
                            { .out = shown_event + "3 event(s) of " + origin + "\n", .status = 0 });
        e2e::expect_outcome(auditor.path(), { "audit", "verify-proof", "grew.proof", "--public-key", key },
                            { .out = "VALID \u2014 log " + origin + " grew from 3 to 5 event(s) without changing its "
                                     "first 3\n", .status = 0 });
    }

    e2e::write_file(directory / "new.note", note);
    EXPECT_EQ(go_check(directory, { "old.note", "new.note", "event.tlog-proof", "against-old.tlog-proof", "grew.proof" }),
              (std::vector<std::string> { "root 5 " + base64(merkle_root(leaves)), "old.note ok", "new.note ok",
                                          "event.tlog-proof ok", "against-old.tlog-proof ok", "grew.proof ok" }));
}

// Every tampered copy of a proof fails under `audit verify-proof`, with its
// reason, and under Go's packages, save those that only the event's own
// signature or form gives away, which Go does not look at.
TEST(Proof, TamperedCopiesFailHereAndUnderGo)
{
    ScratchDirectory directory;
    failed_attempts(directory, 3);
    ASSERT_EQ(run(directory.path(), { "audit", "checkpoint", "--output", "old.note" }).status, 0);
    std::string const old_note = e2e::read_file(directory / "old.note");
    failed_attempts(directory, 2);
    std::string const seed = e2e::read_file(directory / e2e::key_file);
    std::string const event = JsonFile(directory / e2e::audit_file).text("/1/event/event_id");
    std::string const proof = run(directory.path(), { "audit", "prove", "--event-id", event }).out;
    std::string const grew = run(directory.path(), { "audit", "prove", "--from-checkpoint", "old.note" }).out;
    std::string const note = expected_note(directory);
    std::string const leaf = leaves_of(directory)[1];
    auto const lines = e2e::lines(proof);
    auto const grew_lines = e2e::lines(grew);

    // A checkpoint of the same key over a log that went another way.
    ScratchDirectory fork;
    e2e::write_file(fork / e2e::key_file, seed);
    failed_attempts(fork, 3);
    std::string const forked_note = run(fork.path(), { "audit", "checkpoint" }).out;
    ScratchDirectory other;
    failed_attempts(other, 5);
    std::string const other_note = run(other.path(), { "audit", "checkpoint" }).out;
    // A log of one leaf, the given one, under a checkpoint signed for it.
    auto const single = [&seed](std::string const& leaf_bytes) {
        return "c2sp.org/tlog-proof@v1\nextra " + base64_text(leaf_bytes) + "\nindex 0\n\n"
            + note_of(seed, 1, merkle_root({ leaf_bytes }));
    };

    std::string broken_signature = leaf;
    char& digit = broken_signature[leaf.find("\"signature\":\"") + std::string("\"signature\":\"").size()];
    digit = digit == '0' ? '1' : '0';

    std::string const path_fails = "its audit path does not lead from its entry to its checkpoint's root";
    std::string const tree_fails = "its hashes do not show that its newer checkpoint's tree begins with its older "
                                   "checkpoint's";
    std::string const signature_fails = "checkpoint signature does not verify under the given key";
    struct Row {
        std::string name;
        std::string text;
        std::string reason;
        bool go_fails;
    };
    std::vector<Row> const rows {
        { "entry edited", with_line_replaced(proof, lines[1],
              "extra " + base64_text(e2e::replace_once(leaf, "\"denied\"", "\"success\""))), path_fails, true },
        { "index changed", with_line_replaced(proof, "index 1", "index 2"), path_fails, true },
        { "index beyond the checkpoint", with_line_replaced(proof, "index 1", "index 9"),
          "its index 9 is not below its checkpoint's size 5", true },
        { "path hash changed", with_line_replaced(proof, lines[3], changed_first(lines[3])), path_fails, true },
        { "path hash dropped", e2e::replace_once(proof, lines[3] + "\n", ""), path_fails, true },
        { "checkpoint size changed", e2e::replace_once(proof, "\n5\n", "\n4\n"), "its " + signature_fails, true },
        { "checkpoint of another key", e2e::replace_once(proof, note, other_note),
          "its checkpoint origin \"" + origin_of(e2e::read_file(other / e2e::key_file)) + "\" is not this key's ("
              + origin_of(seed) + ")", true },
        { "extra line removed", e2e::replace_once(proof, lines[1] + "\n", ""),
          "its text is not in the tlog-proof form: it has no extra line, which carries the entry", true },
        { "event signature broken, log of it signed", single(broken_signature), "its entry's signature does not verify",
          false },
        { "entry not canonical, log of it signed", single(e2e::replace_once(leaf, ",\"sequence\"", ", \"sequence\"")),
          "its entry is not in canonical form", false },
        { "consistency hash changed", with_line_replaced(grew, grew_lines[1], changed_first(grew_lines[1])),
          tree_fails, true },
        { "consistency hash dropped", e2e::replace_once(grew, grew_lines[1] + "\n", ""), tree_fails, true },
        { "older checkpoint of a fork", e2e::replace_once(grew, old_note, forked_note), tree_fails, true },
        { "checkpoints swapped", "tlog-consistency-proof@v1\n\n" + note + "\n" + old_note,
          "its older checkpoint's size 5 exceeds its newer checkpoint's size 3", true },
        { "newer checkpoint's size changed", e2e::replace_once(grew, "\n5\n", "\n6\n"), "its newer " + signature_fails,
          true },
    };
    std::string const key = key_forms(directory).at(0);
    std::vector<std::string> files;
    std::vector<std::string> expected_go { "root 5 " + base64(merkle_root(leaves_of(directory))) };
    for (std::size_t index = 0; index < rows.size(); ++index) {
        auto const& row = rows[index];
        SCOPED_TRACE(row.name);
        std::string const file = "tampered-" + std::to_string(index) + ".proof";
        e2e::write_file(directory / file, row.text);
        e2e::expect_outcome(directory.path(), { "audit", "verify-proof", file, "--public-key", key },
                            { .out = "INVALID \u2014 proof " + file + " does not verify: " + row.reason + "\n",
                              .err = "Error: proof " + file + " failed verification: " + row.reason + "\n" });
        files.push_back(file);
        expected_go.push_back(file + (row.go_fails ? " fail" : " ok"));
    }
    auto go = go_check(directory, files);
    for (std::string& line : go)
        line = line.substr(0, line.find(" fail") == std::string::npos ? line.size() : line.find(" fail") + 5);
    EXPECT_EQ(go, expected_go);
}

TEST(Proof, RefusedWithAClearErrorAndNothingWritten)
{
    ScratchDirectory directory;
    failed_attempts(directory, 3);
    ASSERT_EQ(run(directory.path(), { "audit", "checkpoint", "--output", "old.note" }).status, 0);
    failed_attempts(directory, 1);
    JsonFile const chain(directory / e2e::audit_file);
    std::string const first = chain.text("/0/event/event_id");
    std::string const last = chain.text("/3/event/event_id");
    ScratchDirectory fork;
    e2e::write_file(fork / e2e::key_file, e2e::read_file(directory / e2e::key_file));
    failed_attempts(fork, 3);
    e2e::write_file(directory / "forked.note", run(fork.path(), { "audit", "checkpoint" }).out);
    ScratchDirectory other;
    std::string const other_key = key_forms(other).at(1);
    e2e::write_file(directory / "event.tlog-proof",
                    run(directory.path(), { "audit", "prove", "--event-id", first }).out);

    std::string const either = "Error: give either --event-id or --from-checkpoint, not both or neither\n";
    struct Row {
        std::vector<std::string> arguments;
        std::string err;
        std::string out {};
    };
    std::vector<Row> const rows {
        { { "audit", "prove" }, either },
        { { "audit", "prove", "--event-id", first, "--from-checkpoint", "old.note" }, either },
        { { "audit", "prove", "--event-id", "nonsense" },
          "Error: invalid EventId identifier: invalid character: found `n` at 1\n" },
        { { "audit", "prove", "--event-id", e2e::fixture_tenant }, "Error: not found: audit event " + fixture_tenant + "\n" },
        { { "audit", "prove", "--event-id", last, "--checkpoint", "old.note" },
          "Error: audit event " + last + " is at index 3 of the chain, after the 3 event(s) of the checkpoint\n" },
        { { "audit", "prove", "--from-checkpoint", "forked.note" },
          "Error: older checkpoint verification failed: validation failed: audit chain forked: the event at sequence 3 "
          "is not the one the checkpoint proves\n" },
        { { "audit", "prove", "--from-checkpoint", "old.note", "--checkpoint", "forked.note" },
          "Error: checkpoint verification failed: validation failed: audit chain forked: the event at sequence 3 is "
          "not the one the checkpoint proves\n" },
        { { "audit", "verify-proof", "event.tlog-proof", "--public-key", "abc" },
          "Error: --public-key abc is not an Ed25519 verifying key in hex, multibase or did:key form\n" },
        { { "audit", "verify-proof", "old.note", "--public-key", other_key },
          "Error: old.note is not a proof of an audit log: its first line is neither c2sp.org/tlog-proof@v1 nor "
          "tlog-consistency-proof@v1\n" },
        { { "audit", "verify-proof", "event.tlog-proof", "--public-key", other_key },
          "Error: proof event.tlog-proof failed verification: its checkpoint origin \""
              + origin_of(e2e::read_file(directory / e2e::key_file)) + "\" is not this key's ("
              + origin_of(e2e::read_file(other / e2e::key_file)) + ")\n",
          "INVALID \u2014 proof event.tlog-proof does not verify: its checkpoint origin \""
              + origin_of(e2e::read_file(directory / e2e::key_file)) + "\" is not this key's ("
              + origin_of(e2e::read_file(other / e2e::key_file)) + ")\n" },
    };
    for (auto const& row : rows) {
        SCOPED_TRACE(row.arguments.back());
        e2e::expect_outcome(directory.path(), row.arguments, { .out = row.out, .err = row.err });
    }
}

} // namespace

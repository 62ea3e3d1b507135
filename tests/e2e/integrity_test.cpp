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

// The checkpoint a reader of the format expects for the chain file as it
// stands: origin, number of entries, base64 of the BLAKE3 hash of the last
// event's canonical bytes (zeros when empty), a blank line and the signature
// line under the origin's name.
std::string expected_note(ScratchDirectory const& directory)
{
    std::string const seed = e2e::read_file(directory / e2e::key_file);
    std::string const origin = origin_of(seed);
    std::vector<std::uint8_t> head(32, 0);
    std::size_t count = 0;
    if (std::filesystem::exists(directory / e2e::audit_file)) {
        JsonFile const chain(directory / e2e::audit_file);
        count = chain.size("");
        if (count > 0)
            head = *e2e::unhex(
                e2e::blake3_text(e2e::canonical(chain.at("/" + std::to_string(count - 1) + "/event"))).substr(7));
    }
    std::string const body = origin + "\n" + std::to_string(count) + "\n" + base64(head) + "\n";
    auto blob = note_key_id(origin, seed);
    auto const signature = *e2e::unhex(e2e::sign_text(seed, body));
    blob.insert(blob.end(), signature.begin(), signature.end());
    return body + "\n\u2014 " + origin + " " + base64(blob) + "\n";
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
    // An empty chain: size 0 and a head of zeros. The key is made first.
    auto const first = run(directory.path(), { "audit", "checkpoint" });
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(e2e::entries(directory.path()), Names { e2e::key_file });
    std::string const empty_note = expected_note(directory);
    EXPECT_EQ(first.out, empty_note);
    std::string const origin = origin_of(e2e::read_file(directory / e2e::key_file));
    EXPECT_EQ(empty_note.substr(0, empty_note.find("\n\n")),
              origin + "\n0\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
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

} // namespace

// Revoking certificates end to end: the result line, the stored revocation
// and its audit event, verify before, at and after the revocation instant,
// the refusals, and state files written before revocations existed.

#include "workflow_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using e2e::changed_files;
using e2e::JsonFile;
using e2e::Names;
using e2e::run;
using e2e::ScratchDirectory;
using e2e::snapshot;

std::string const dash = " \u2014 ";

// The golden state file, written before certificates could be revoked, and
// the seed its certificates are signed with.
std::filesystem::path const golden_state = std::filesystem::path(CORVELLA_SOURCE_DIR) / "tests/golden/data/state.json";
std::string const golden_seed = "030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc";
// Its two certificates: one expiring 2027-01-03, one at the end of the calendar.
std::string const yearly_certificate = "10000028-0000-4000-8000-000000abc028";
std::string const lasting_certificate = "10000029-0000-4000-8000-000000abc029";
std::string const golden_tenant = "1000000b-0000-4000-8000-000000abc00b";
std::string const golden_workspace = "1000000c-0000-4000-8000-000000abc00c";

// The golden state and, unless asked otherwise, its signing key.
void write_golden(ScratchDirectory const& directory, bool with_key = true)
{
    e2e::write_file(directory / e2e::state_file, e2e::read_file(golden_state));
    if (with_key)
        e2e::write_file(directory / e2e::key_file, golden_seed);
}

using Expected = e2e::Outcome;

void expect_run(ScratchDirectory const& directory, std::vector<std::string> const& arguments, Expected const& expected)
{
    e2e::expect_outcome(directory.path(), arguments, expected);
}

// Revokes the certificate, checks the result line against the instant it
// stored (read from the clock during the run) and returns that instant.
std::string revoke(ScratchDirectory const& directory, std::string const& certificate, std::string const& reason)
{
    std::time_t const earliest = std::time(nullptr);
    auto const result = run(directory.path(), { "revoke", "--certificate-id", certificate, "--reason", reason });
    std::time_t const latest = std::time(nullptr);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    JsonFile const state(directory / e2e::state_file);
    std::string revoked_at;
    for (std::size_t index = 0; index < state.size("/certificates"); ++index) {
        std::string const entry = "/certificates/" + std::to_string(index);
        if (state.text(entry + "/payload/certificate_id") == certificate)
            revoked_at = state.text(entry + "/revocation/revoked_at");
    }
    EXPECT_TRUE(e2e::is_instant_between(revoked_at, earliest, latest)) << revoked_at;
    EXPECT_EQ(result.out, "revoked certificate " + certificate + " at " + revoked_at + dash + reason + "\n");
    return revoked_at;
}

std::string invalid_line(std::string const& certificate, std::string const& reason)
{
    return "INVALID" + dash + "certificate " + certificate + " does not verify: " + reason + "\n";
}

std::string failed_error(std::string const& certificate, std::string const& reason)
{
    return "Error: certificate " + certificate + " failed verification: " + reason + "\n";
}

TEST(Revoke, StateWrittenBeforeRevocationsReadsAndIsRewrittenUnchanged)
{
    ScratchDirectory directory;
    write_golden(directory);
    std::string const golden = e2e::read_file(golden_state);

    // Rewritten by a command that changes nothing in it: the same bytes.
    auto const published = run(directory.path(), { "assessment", "publish", "10000005-0000-4000-8000-000000abc005" });
    EXPECT_EQ(published.status, 0) << published.err;
    EXPECT_EQ(e2e::read_file(directory / e2e::state_file), golden);
    for (auto const& certificate : { yearly_certificate, lasting_certificate }) {
        expect_run(directory, { "verify", "--certificate-id", certificate, "--at", "2026-06-01T00:00:00Z" },
                   { .out = "VALID" + dash + "certificate " + certificate + " verifies as of 2026-06-01T00:00:00Z\n",
                     .status = 0 });
    }

    // Revoking one certificate adds its revocation after its signature and
    // leaves every other byte as it was.
    std::string const revoked_at = revoke(directory, lasting_certificate, "issued in error \"twice\"");
    std::string const signature = "\"f769da560609880d1157ca557883b60a6760c07de8a774a73220eadfebc24caa2150d1d9fc323f8e2665"
                                  "41d0e31eaf5ae9971624d387d4a186f5d91ec95a8406\"";
    std::string const revocation = ",\n      \"revocation\": {\n        \"revoked_at\": \"" + revoked_at
        + "\",\n        \"reason\": \"issued in error \\\"twice\\\"\"\n      }";
    std::string expected = golden;
    expected.insert(expected.find(signature) + signature.size(), revocation);
    EXPECT_EQ(e2e::read_file(directory / e2e::state_file), expected);
}

TEST(Revoke, VerifyIsValidBeforeTheRevocationAndInvalidFromIt)
{
    ScratchDirectory directory;
    write_golden(directory);
    auto const readiness = run(directory.path(), { "report", "readiness" });
    std::string const reason = "learner left the programme";
    std::string const revoked_at = revoke(directory, lasting_certificate, reason);
    std::string const just_before = e2e::utc_text(e2e::unix_seconds(revoked_at) - 1);
    std::string const revoked = "revoked at " + revoked_at + ": " + reason;

    // The revocation event: the operator acted, so no learner is named.
    JsonFile const audit(directory / e2e::audit_file);
    ASSERT_EQ(audit.size(""), 1u);
    EXPECT_EQ(audit.text("/0/event/action"), "training.certificate.revoked");
    EXPECT_EQ(audit.keys("/0/event/actor"), Names { "actor_type" });
    EXPECT_EQ(audit.text("/0/event/actor/actor_type"), "unknown");
    EXPECT_EQ(audit.text("/0/event/target/target_type"), "certificate");
    EXPECT_EQ(audit.text("/0/event/target/target_id"), lasting_certificate);
    EXPECT_EQ(audit.text("/0/event/result"), "success");
    EXPECT_EQ(audit.text("/0/event/severity"), "info");
    EXPECT_EQ(audit.text("/0/event/category"), "security");
    EXPECT_EQ(audit.text("/0/event/retention_class"), "security");
    EXPECT_EQ(audit.text("/0/event/occurred_at"), revoked_at);
    EXPECT_EQ(audit.text("/0/event/tenant_id"), golden_tenant);
    EXPECT_EQ(audit.text("/0/event/workspace_id"), golden_workspace);

    struct Row {
        std::string certificate;
        std::vector<std::string> at; // empty: now
        Expected expected;
    };
    auto const valid = [](std::string const& certificate, std::string const& at) {
        return Expected { .out = "VALID" + dash + "certificate " + certificate + " verifies as of " + at + "\n",
                          .status = 0 };
    };
    auto const invalid = [](std::string const& certificate, std::string const& why) {
        return Expected { .out = invalid_line(certificate, why), .err = failed_error(certificate, why),
                          .changed = { e2e::audit_file } };
    };
    std::vector<Row> const rows {
        { lasting_certificate, { "--at", just_before }, valid(lasting_certificate, just_before) },
        { lasting_certificate, { "--at", "2026-01-03T00:00:00Z" }, valid(lasting_certificate, "2026-01-03T00:00:00Z") },
        { lasting_certificate, { "--at", revoked_at }, invalid(lasting_certificate, revoked) },
        { lasting_certificate, { "--at", "9999-12-31T23:59:59Z" }, invalid(lasting_certificate, revoked) },
        { lasting_certificate, {}, invalid(lasting_certificate, revoked) },
        // The other certificate is untouched by the revocation.
        { yearly_certificate, { "--at", just_before }, valid(yearly_certificate, just_before) },
    };
    for (auto const& row : rows) {
        std::vector<std::string> arguments { "verify", "--certificate-id", row.certificate };
        arguments.insert(arguments.end(), row.at.begin(), row.at.end());
        SCOPED_TRACE(row.at.empty() ? "now" : row.at.back());
        expect_run(directory, arguments, row.expected);
    }
    // Once expired as well, the revocation is what is reported.
    std::string const yearly_revoked_at = revoke(directory, yearly_certificate, "superseded");
    expect_run(directory, { "verify", "--certificate-id", yearly_certificate, "--at", "9000-01-01T00:00:00Z" },
               invalid(yearly_certificate, "revoked at " + yearly_revoked_at + ": superseded"));

    EXPECT_TRUE(e2e::audit_chain_holds(directory / e2e::audit_file, golden_seed));
    EXPECT_EQ(JsonFile(directory / e2e::audit_file).size(""), 6u);
    // Readiness counts both certificates as revoked, whatever their dates,
    // and is otherwise as before; doctor prints what it printed before.
    std::string const certificates_line = "Certificates  : ";
    ASSERT_NE(readiness.out.find(certificates_line), std::string::npos) << readiness.out;
    EXPECT_EQ(run(directory.path(), { "report", "readiness" }).out,
              readiness.out.substr(0, readiness.out.find(certificates_line)) + certificates_line
                  + "0 valid, 0 expired, 2 revoked\n");
    expect_run(directory, { "doctor" },
               { .out = "state file    : ok (3 assessments, 4 assignments, 3 attempts, 2 completions, 2 certificates)\n"
                        "signing key   : ok (corvella-signing-key.hex)\n"
                        "audit chain   : ok (6 events verified)\n"
                        "doctor        : all checks passed\n",
                 .status = 0 });
}

TEST(Revoke, RefusalsComeInOrderAndChangeNothing)
{
    std::string const missing = "eeeeeeee-eeee-4eee-8eee-eeeeeeeeeeee";
    std::string const control = "Error: reason must be one line without control characters\n";
    struct Row {
        std::string certificate;
        std::string reason;
        std::string err;
    };
    std::vector<Row> const rows {
        { "zz", "", "Error: invalid CertificationId identifier: invalid character: found `z` at 1\n" },
        { missing, "", "Error: not found: certificate " + missing + "\n" },
        { lasting_certificate, "", "Error: reason must not be empty\n" },
        { lasting_certificate, " \t\u3000", "Error: reason must not be empty\n" },
        { lasting_certificate, "first line\nsecond line", control },
        { lasting_certificate, "ends with a line feed\n", control },
        { lasting_certificate, "bell\a", control },
    };
    // Without a key file, so that a refusal is seen not to create one.
    ScratchDirectory directory;
    write_golden(directory, /*with_key=*/false);
    for (auto const& row : rows) {
        SCOPED_TRACE(row.err);
        expect_run(directory, { "revoke", "--certificate-id", row.certificate, "--reason", row.reason },
                   { .err = row.err });
    }

    // The first revocation creates the key and the chain; a second is refused.
    auto const before = snapshot(directory.path());
    std::string const revoked_at = revoke(directory, lasting_certificate, "issued in error");
    EXPECT_EQ(changed_files(before, snapshot(directory.path())),
              (Names { e2e::audit_file, e2e::key_file, e2e::state_file }));
    expect_run(directory, { "revoke", "--certificate-id", lasting_certificate, "--reason", "again" },
               { .err = "Error: certificate CertificationId(" + e2e::short_form(lasting_certificate)
                     + ") was already revoked at " + revoked_at + ": issued in error\n" });
}

} // namespace

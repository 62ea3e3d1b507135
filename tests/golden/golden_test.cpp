// Golden files: the exact bytes this tool writes for fixed records of every
// kind (state file, chain file, canonical bytes of every signed record, their
// hashes and signatures under a fixed seed). Any change to these bytes breaks
// files and signatures that already exist, so a difference here is a fault
// unless the file format itself is meant to change. To write the files anew
// after such a deliberate change: CORVELLA_GOLDEN_UPDATE=1 <this test>.

#include "chain_text.h"
#include "store/state.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/records.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/value.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace corvella;
using quenmark::Timestamp;
using quenmark::Uuid;

std::string const golden_dir = std::string(CORVELLA_SOURCE_DIR) + "/tests/golden/data/";

Uuid uuid(int n)
{
    char text[37];
    std::snprintf(text, sizeof text, "%08x-0000-4000-8000-%012x", 0x10000000 + n, 0xabc000 + n);
    return *Uuid::parse(text);
}

template<typename Id>
Id id(int n)
{
    return Id::from_uuid(uuid(n));
}

Timestamp at(char const* text) { return *Timestamp::parse(text); }

quenmark::SigningKey fixed_key()
{
    std::array<std::uint8_t, quenmark::seed_size> seed {};
    for (std::size_t index = 0; index < seed.size(); ++index)
        seed[index] = static_cast<std::uint8_t>(7 * index + 3);
    return quenmark::SigningKey::from_seed(seed);
}

// Compares with the golden file, or writes it when asked to.
void expect_golden(std::string const& name, std::string const& actual)
{
    std::string const path = golden_dir + name;
    if (std::getenv("CORVELLA_GOLDEN_UPDATE") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << "missing golden file " << path;
    std::stringstream expected;
    expected << file.rdbuf();
    EXPECT_EQ(expected.str(), actual) << "bytes differ from " << path;
}

std::string hex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (char const byte : bytes) {
        out.push_back(digits[static_cast<unsigned char>(byte) >> 4U]);
        out.push_back(digits[static_cast<unsigned char>(byte) & 0x0FU]);
    }
    return out;
}

// Prompts and titles that exercise escapes and composition of decomposed letters.
std::string const tricky_text = "Caf\x65\xCC\x81 \"quoted\" \\ tab\t line\n ctrl\x01 \xE2\x9C\x93 A\xCC\x8A";

corvellactl::Store fixed_store(quenmark::SigningKey const& key)
{
    corvellactl::Store store;

    AssessmentDefinition draft;
    draft.id = id<AssessmentId>(1);
    draft.course_id = id<CourseId>(2);
    draft.title = "Safety basics";
    draft.version = 1;
    draft.status = AssessmentStatus::Draft;
    draft.passing_rule = PassingRule { 1, 2 };
    draft.questions = {
        Question { id<QuestionId>(3), "Which is safe?", { "A", "B", "C" }, 2 },
        Question { id<QuestionId>(4), tricky_text, { tricky_text, "" }, 0 },
    };
    draft.attempt_limit = 3;
    AssessmentDefinition published = draft;
    published.id = id<AssessmentId>(5);
    published.title = tricky_text;
    published.version = 4294967295U;
    published.status = AssessmentStatus::Published;
    published.questions = {};
    published.attempt_limit = 1;
    AssessmentDefinition retired = draft;
    retired.id = id<AssessmentId>(6);
    retired.status = AssessmentStatus::Retired;
    store.assessments = { draft, published, retired };

    TrainingAssignment open;
    open.id = id<AssignmentId>(10);
    open.tenant_id = id<TenantId>(11);
    open.workspace_id = id<WorkspaceId>(12);
    open.principal_id = id<IdentityId>(13);
    open.course_id = id<CourseId>(2);
    open.assessment_id = id<AssessmentId>(1);
    open.assignment_reason = AssignmentReason::RoleRequirement;
    open.status = AssignmentStatus::Assigned;
    open.created_at = at("2026-01-02T03:04:05Z");
    open.updated_at = at("2026-01-02T03:04:05Z");
    TrainingAssignment completed = open;
    completed.id = id<AssignmentId>(14);
    completed.assignment_reason = AssignmentReason::SecurityRemediation;
    completed.due_at = at("0000-01-01T00:00:00Z");
    completed.status = AssignmentStatus::Completed;
    completed.updated_at = at("9999-12-31T23:59:59Z");
    completed.completed_at = at("9999-12-31T23:59:59Z");
    TrainingAssignment other = open;
    other.id = id<AssignmentId>(15);
    other.assignment_reason = AssignmentReason::ComplianceControl;
    other.status = AssignmentStatus::Cancelled;
    other.due_at = at("2030-06-30T12:00:00+02:00");
    TrainingAssignment progress = open;
    progress.id = id<AssignmentId>(16);
    progress.assignment_reason = AssignmentReason::ManualAssignment;
    progress.status = AssignmentStatus::InProgress;
    store.assignments = { open, completed, other, progress };

    KnowledgeCheckAttempt failed;
    failed.id = id<AttemptId>(20);
    failed.tenant_id = id<TenantId>(11);
    failed.workspace_id = id<WorkspaceId>(12);
    failed.principal_id = id<IdentityId>(13);
    failed.assessment_id = id<AssessmentId>(1);
    failed.assessment_version = 1;
    failed.attempt_number = 1;
    failed.status = AttemptStatus::Failed;
    failed.score_band = ScoreBand::Fail;
    failed.safe_feedback = SafeFeedback::ReviewRecommended;
    failed.started_at = at("2026-01-03T00:00:00Z");
    failed.completed_at = at("2026-01-03T00:00:00Z");
    KnowledgeCheckAttempt passed = failed;
    passed.id = id<AttemptId>(21);
    passed.assignment_id = id<AssignmentId>(14);
    passed.attempt_number = 4294967295U;
    passed.status = AttemptStatus::Passed;
    passed.score_band = ScoreBand::Distinction;
    passed.safe_feedback = SafeFeedback::None;
    KnowledgeCheckAttempt limit = failed;
    limit.id = id<AttemptId>(22);
    limit.safe_feedback = SafeFeedback::AttemptLimitReached;
    store.attempts = { failed, passed, limit };

    CompletionRecord record;
    record.id = id<CompletionRecordId>(30);
    record.tenant_id = id<TenantId>(11);
    record.workspace_id = id<WorkspaceId>(12);
    record.principal_id = id<IdentityId>(13);
    record.assignment_id = id<AssignmentId>(14);
    record.assessment_id = id<AssessmentId>(1);
    record.assessment_version = 1;
    record.attempt_id = id<AttemptId>(21);
    record.score_band = ScoreBand::Pass;
    record.completed_at = at("2026-01-03T00:00:00Z");
    CompletionRecord full = record;
    full.id = id<CompletionRecordId>(31);
    full.assignment_id.reset();
    full.expires_at = at("2027-01-03T00:00:00Z");
    full.evidence_ref = tricky_text;
    store.completions = { record, full };

    for (int n : { 40, 41 }) {
        CertificatePayload payload;
        payload.certificate_id = id<CertificationId>(n);
        payload.tenant_id = id<TenantId>(11);
        payload.workspace_id = id<WorkspaceId>(12);
        payload.principal_id = id<IdentityId>(13);
        payload.course_id = id<CourseId>(2);
        payload.assessment_id = id<AssessmentId>(1);
        payload.assessment_version = 1;
        payload.completion_record_id = id<CompletionRecordId>(30);
        payload.score_band = n == 40 ? ScoreBand::Pass : ScoreBand::Distinction;
        payload.issued_at = at("2026-01-03T00:00:00Z");
        payload.expires_at = n == 40 ? at("2027-01-03T00:00:00Z") : at("9999-12-31T23:59:59Z");
        auto const bytes = signing_input(payload);
        Certificate certificate { payload, key.sign(*bytes) };
        store.certificates.push_back(certificate);
    }
    return store;
}

std::vector<quenmark::AuditEvent> fixed_events()
{
    using namespace quenmark;
    std::vector<AuditEvent> events;

    AuditEvent plain;
    plain.event_id = uuid(50);
    plain.product_id = corvella::product_id();
    plain.tenant_id = uuid(11);
    plain.workspace_id = uuid(12);
    plain.actor = Actor { ActorType::User, std::string("operator"), std::nullopt };
    plain.target = Target { "training.assignment", std::string("10000010-0000-4000-8000-000000abc00a") };
    plain.action = "training.assignment.created";
    plain.result = AuditResult::Success;
    plain.severity = Severity::Info;
    plain.category = AuditCategory::DataAccess;
    plain.occurred_at = at("2026-01-02T03:04:05Z");
    plain.retention_class = RetentionClass::Operational;
    events.push_back(plain);

    AuditEvent full = plain;
    full.event_id = uuid(51);
    full.tenant_id.reset();
    full.source_node_id = uuid(52);
    full.actor = Actor { ActorType::FederationPeer, std::nullopt, Bytes { 0, 1, 127, 255 } };
    full.target = Target { tricky_text, std::nullopt };
    full.action = tricky_text;
    full.result = AuditResult::Denied;
    full.severity = Severity::Critical;
    full.category = AuditCategory::KeyManagement;
    full.occurred_at = at("9999-12-31T23:59:59Z");
    full.received_at = at("0000-01-01T00:00:00Z");
    full.correlation_id = tricky_text;
    full.metadata_encrypted = Bytes {};
    full.retention_class = RetentionClass::LegalHold;
    full.redaction_markers = {
        RedactionMarker { "actor.actor_id", RedactionReason::PersonalData, std::nullopt, std::nullopt, std::nullopt },
        RedactionMarker { tricky_text, RedactionReason::Oversized, uuid(53), at("2026-02-02T00:00:00Z"), uuid(54) },
    };
    events.push_back(full);

    AuditEvent last = plain;
    last.event_id = uuid(55);
    last.actor = Actor { ActorType::System, std::nullopt, std::nullopt };
    last.result = AuditResult::Partial;
    last.category = AuditCategory::Privacy;
    last.retention_class = RetentionClass::PrivacySensitive;
    events.push_back(last);
    return events;
}

TEST(Golden, StateFile)
{
    auto const key = fixed_key();
    std::string text;
    corvellactl::write_store(fixed_store(key), text);
    expect_golden("state.json", text);

    // What is read back is written back byte for byte.
    std::string padded = text;
    padded.resize(text.size() + quenmark::json::read_padding, ' ');
    auto const store = corvellactl::parse_store(padded.data(), text.size());
    ASSERT_TRUE(store) << store.error();
    std::string again;
    corvellactl::write_store(*store, again);
    EXPECT_EQ(text, again);
}

TEST(Golden, CertificateSigningInputsAndSignatures)
{
    auto const key = fixed_key();
    std::string lines;
    for (auto const& certificate : fixed_store(key).certificates) {
        auto const bytes = signing_input(certificate.payload);
        ASSERT_TRUE(bytes);
        lines += *bytes + "\n" + certificate.signature.to_text() + "\n";
    }
    expect_golden("certificates.txt", lines);
}

TEST(Golden, ChainFileCanonicalBytesHashesAndSignatures)
{
    auto const key = fixed_key();
    std::vector<quenmark::SignedAuditEvent> chain;
    std::string lines;
    for (auto const& event : fixed_events()) {
        auto const head = quenmark::derive_head(chain);
        ASSERT_TRUE(head);
        auto entry = quenmark::link_event(*head, key, event);
        ASSERT_TRUE(entry);
        auto const bytes = quenmark::event_canonical_bytes(entry->event);
        auto const hash = quenmark::event_content_hash(entry->event);
        ASSERT_TRUE(bytes && hash);
        lines += *bytes + "\n" + hash->to_text() + "\n" + entry->signature.to_text() + "\n";
        chain.push_back(std::move(*entry));
    }
    expect_golden("events.txt", lines);

    std::string text;
    test_support::write_chain(chain, text);
    expect_golden("chain.json", text);
    auto const parsed = quenmark::parse_chain(text);
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(chain, *parsed);
    EXPECT_TRUE(quenmark::verify_chain(*parsed, key.verifying_key()));
}

TEST(Golden, CanonicalBytesOfValues)
{
    using namespace quenmark::json;
    Object inner;
    inner.emplace_back("z", Value(std::int64_t { -5 }));
    inner.emplace_back("a\xCC\x81", Value(true));
    inner.emplace_back("B", Value(nullptr));
    Object outer;
    outer.emplace_back("list", Value(Array { Value("e\xCC\x81"), Value(std::uint64_t { 18446744073709551615ULL }),
                                            Value(Array {}), Value(Object {}) }));
    outer.emplace_back("inner", Value(std::move(inner)));
    outer.emplace_back("text", Value(tricky_text));
    auto const bytes = canonical_bytes(Value(std::move(outer)));
    ASSERT_TRUE(bytes);
    auto const key = fixed_key();
    auto const signed_bytes = canonical_bytes(Value(std::string("x")));
    ASSERT_TRUE(signed_bytes);
    auto const signature = key.sign(std::string_view(*signed_bytes));
    expect_golden("values.txt", *bytes + "\n" + hex(*bytes) + "\n" + signature.to_text() + "\n");
}

} // namespace

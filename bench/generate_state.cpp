// corvella_generate: writes a large, valid data set for the scale benchmark.
//
//   corvella_generate DIR RECORDS EVENTS
//
// Into DIR go the three data files under their default names (state, signing
// key, audit chain) and bench-ids.txt, which names the records the benchmark
// commands work on. Everything is built through the project's own libraries,
// so the files verify exactly as files written by the commands do:
//
// - RECORDS published assessments of three questions each;
// - RECORDS assignments over a 400-day history: 70% completed through a
//   passing attempt, 20% assigned and 10% in progress (these learners passed
//   the assessment earlier outside an assignment, and the in-progress ones
//   also failed a first attempt on the new assignment); half carry a due date;
// - one passing attempt, one completion record and one certificate (signed,
//   365 days valid, the oldest ones expired) per assignment, plus the failed
//   attempts of the in-progress assignments;
// - EVENTS audit events telling that history in order, linked and signed;
// - bench-batch-assign.csv (10,000 new learners) and bench-batch-attempt.csv
//   (passing answers for up to 10,000 open assignments), the batch commands'
//   inputs.
// - bench-checkpoint.note, the checkpoint `audit checkpoint` would have
//   written before the last hundredth of the events.
//
// The last assignment is always assigned and open, the last certificate is
// valid now, and the records the benchmark uses are the last of their lists,
// so every lookup by linear search scans the whole list.

#include "bench_support.h"
#include "chain_text.h"

#include "store/state.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/grading.h"
#include "corvella/records.h"
#include "quenmark/expected.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/checkpoint.h"
#include "quenmark/integrity/merkle.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

using corvella_bench::fail;
using corvellactl::Store;
using quenmark::Timestamp;

constexpr std::string_view program = "corvella_generate";
constexpr std::int64_t seconds_per_day = 86400;
constexpr std::int64_t history_seconds = 400 * seconds_per_day;
constexpr std::int64_t validity_seconds = 365 * seconds_per_day;
constexpr std::size_t questions_per_assessment = 3;
// Rows of the batch commands' input files.
constexpr std::size_t batch_rows = 10000;

// A fixed seed keeps signatures reproducible between runs of the generator.
constexpr std::array<std::uint8_t, quenmark::seed_size> key_seed {
    0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a, 0xf4, 0x92, 0xec, 0x2c, 0xc4,
    0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60,
};

enum class Outcome : std::uint8_t { Completed, Assigned, InProgress };

Outcome outcome_of(std::size_t index, std::size_t count)
{
    if (index + 1 == count)
        return Outcome::Assigned;
    std::size_t const bucket = index % 10;
    if (bucket < 7)
        return Outcome::Completed;
    return bucket < 9 ? Outcome::Assigned : Outcome::InProgress;
}

std::optional<std::uint64_t> parse_count(std::string_view text)
{
    std::uint64_t value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size() || value == 0)
        return std::nullopt;
    return value;
}

std::string numbered(std::string_view prefix, std::size_t number)
{
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}

quenmark::Expected<corvella::AssessmentDefinition, std::string> make_assessment(std::size_t index)
{
    static constexpr std::array<std::string_view, 4> topics { "Phishing", "Data handling", "Access control",
                                                              "Incident reporting" };
    std::vector<corvella::Question> questions;
    for (std::size_t number = 0; number < questions_per_assessment; ++number) {
        std::vector<std::string> choices { "Report it to the security team", "Ignore it",
                                           "Forward it to a colleague" };
        if ((index + number) % 2 == 0)
            choices.emplace_back("Ask the sender to confirm by phone");
        auto question = corvella::build_question(
            numbered("What is the right response in scenario ", index * questions_per_assessment + number) + "?",
            std::move(choices), /*correct_index=*/(index + number) % 3);
        if (!question)
            return quenmark::unexpected("building a question: " + question.error().text());
        questions.push_back(std::move(*question));
    }
    corvella::NewAssessment input;
    input.title = std::string(topics[index % topics.size()]) + numbered(" awareness, module ", index);
    input.course_id = corvella::CourseId::mint();
    input.version = static_cast<std::uint32_t>(1 + index % 3);
    input.min_correct = 2;
    input.total_questions = static_cast<std::uint32_t>(questions_per_assessment);
    input.questions = std::move(questions);
    input.attempt_limit = 3;
    auto assessment = corvella::build_assessment(std::move(input));
    if (!assessment)
        return quenmark::unexpected("building an assessment: " + assessment.error().text());
    return corvella::publish(std::move(*assessment));
}

std::vector<corvella::Answer> answers_for(corvella::AssessmentDefinition const& assessment, bool passing)
{
    std::vector<corvella::Answer> answers;
    for (auto const& question : assessment.questions) {
        std::uint64_t choice = question.correct_index;
        if (!passing)
            choice = (choice + 1) % question.choices.size();
        answers.push_back({ question.id, choice });
    }
    return answers;
}

std::string answers_text(corvella::AssessmentDefinition const& assessment)
{
    std::string text;
    for (auto const& question : assessment.questions) {
        if (!text.empty())
            text.push_back(',');
        text += std::to_string(question.correct_index);
    }
    return text;
}

struct Learner {
    corvella::TenantId tenant_id;
    corvella::WorkspaceId workspace_id;
    corvella::IdentityId principal_id;
};

// A few tenants with a few workspaces each; a principal learns several
// assessments over the history.
std::vector<Learner> make_learners(std::size_t count)
{
    std::size_t const tenants = count / 2000 + 1;
    std::vector<corvella::TenantId> tenant_ids;
    std::vector<corvella::WorkspaceId> workspace_ids;
    for (std::size_t tenant = 0; tenant < tenants; ++tenant) {
        tenant_ids.push_back(corvella::TenantId::mint());
        for (int workspace = 0; workspace < 3; ++workspace)
            workspace_ids.push_back(corvella::WorkspaceId::mint());
    }
    std::vector<Learner> learners;
    for (std::size_t index = 0; index < count / 4 + 1; ++index) {
        std::size_t const workspace = index % workspace_ids.size();
        learners.push_back({ tenant_ids[workspace / 3], workspace_ids[workspace], corvella::IdentityId::mint() });
    }
    return learners;
}

// The assessment of the assignment at `index`: the benchmark's open
// assignment is on the last assessment; the rest are spread over all of them.
std::size_t assessment_of(std::size_t index, std::size_t count)
{
    return index + 1 == count ? count - 1 : (index * 7919) % count;
}

struct Generated {
    Store store;
    // Per assignment index: the attempt and completion indices that tell its story.
    std::vector<std::size_t> passing_attempt;
    std::vector<std::optional<std::size_t>> failed_attempt;
    std::vector<Outcome> outcomes;
    std::string passing_answers;
};

quenmark::Expected<Generated, std::string> generate_records(quenmark::SigningKey const& key, std::size_t count, Timestamp now)
{
    Generated generated;
    Store& store = generated.store;
    store.assessments.reserve(count);
    for (std::size_t index = 0; index < count; ++index) {
        auto assessment = make_assessment(index);
        if (!assessment)
            return quenmark::unexpected(std::move(assessment).error());
        store.assessments.push_back(std::move(*assessment));
    }

    auto const learners = make_learners(count);
    std::int64_t const spacing = history_seconds / static_cast<std::int64_t>(count) + 1;
    store.assignments.reserve(count);
    store.attempts.reserve(count + count / 10 + 1);
    store.completions.reserve(count);
    store.certificates.reserve(count);

    for (std::size_t index = 0; index < count; ++index) {
        Outcome const outcome = outcome_of(index, count);
        generated.outcomes.push_back(outcome);
        Learner const& learner = learners[(index * 7) % learners.size()];
        std::size_t const assessment_index = assessment_of(index, count);
        corvella::AssessmentDefinition const& assessment = store.assessments[assessment_index];
        Timestamp const created = now.plus_seconds(-static_cast<std::int64_t>(count - index) * spacing);
        Timestamp const attempted = created.plus_seconds(spacing / 3);

        corvella::NewAssignment input;
        input.tenant_id = learner.tenant_id;
        input.workspace_id = learner.workspace_id;
        input.principal_id = learner.principal_id;
        input.course_id = assessment.course_id;
        input.assessment_id = assessment.id;
        input.reason = outcome == Outcome::Completed ? corvella::AssignmentReason::RoleRequirement
                                                     : corvella::AssignmentReason::ComplianceControl;
        if (index % 2 == 0)
            input.due_at = created.plus_seconds(30 * seconds_per_day);
        input.now = created;
        auto assignment = corvella::build_assignment(input);

        // Completed assignments were passed on the assignment itself; the
        // others' learners passed the assessment earlier, outside any assignment.
        std::optional<corvella::AssignmentId> passed_on;
        if (outcome == Outcome::Completed)
            passed_on = assignment.id;
        auto const passing = answers_for(assessment, /*passing=*/true);
        corvella::GradingRequest request { learner.tenant_id, learner.workspace_id, learner.principal_id, passed_on,
                                           /*attempt_number=*/1, passing, attempted, attempted };
        auto attempt = corvella::grade(assessment, request);
        if (!attempt)
            return quenmark::unexpected("grading: " + attempt.error().text());
        auto completion = corvella::build_completion_record(*attempt, std::nullopt);
        if (!completion)
            return quenmark::unexpected("building a completion record: " + completion.error().text());
        auto certificate = corvella::issue_certificate(key, *completion, assessment, attempted, validity_seconds);
        if (!certificate)
            return quenmark::unexpected("issuing a certificate: " + certificate.error().text());
        generated.passing_attempt.push_back(store.attempts.size());
        store.attempts.push_back(std::move(*attempt));
        store.completions.push_back(std::move(*completion));
        store.certificates.push_back(std::move(*certificate));

        generated.failed_attempt.emplace_back();
        if (outcome == Outcome::Completed) {
            assignment = corvella::mark_completed(std::move(assignment), attempted);
        } else if (outcome == Outcome::InProgress) {
            auto const failing = answers_for(assessment, /*passing=*/false);
            corvella::GradingRequest retry { learner.tenant_id, learner.workspace_id, learner.principal_id,
                                             assignment.id, /*attempt_number=*/1, failing, attempted, attempted };
            auto failed = corvella::grade(assessment, retry);
            if (!failed)
                return quenmark::unexpected("grading: " + failed.error().text());
            generated.failed_attempt.back() = store.attempts.size();
            store.attempts.push_back(std::move(*failed));
            assignment = corvella::mark_in_progress(std::move(assignment), attempted);
        }
        store.assignments.push_back(std::move(assignment));
    }
    generated.passing_answers = answers_text(store.assessments.back());
    return generated;
}

quenmark::AuditEvent training_event(std::string_view action, std::string_view target_type, std::string target_id,
                                    std::string actor_id, quenmark::AuditResult result,
                                    quenmark::AuditCategory category, Timestamp occurred_at,
                                    corvella::TenantId tenant_id, corvella::WorkspaceId workspace_id)
{
    quenmark::Actor actor { quenmark::ActorType::User, std::move(actor_id), std::nullopt };
    quenmark::Target target { std::string(target_type), std::move(target_id) };
    auto event = quenmark::build_audit_event(corvella::product_id(), std::move(actor), std::move(target),
                                             std::string(action), result, category, occurred_at);
    event.tenant_id = tenant_id.uuid();
    event.workspace_id = workspace_id.uuid();
    return event;
}

// The history as audit events, oldest first: each assignment's creation,
// attempts, completion and certificate, repeated over the records until
// `count` events are told.
std::vector<quenmark::AuditEvent> make_events(Generated const& generated, std::size_t count, Timestamp now)
{
    using quenmark::AuditCategory;
    using quenmark::AuditResult;
    Store const& store = generated.store;
    std::vector<quenmark::AuditEvent> events;
    events.reserve(count);
    std::int64_t const spacing = history_seconds / static_cast<std::int64_t>(count) + 1;
    std::size_t record = 0;
    while (events.size() < count) {
        auto const& assignment = store.assignments[record];
        auto const& passed = store.attempts[generated.passing_attempt[record]];
        auto const& certificate = store.certificates[record];
        auto const at = [&] { return now.plus_seconds(-static_cast<std::int64_t>(count - events.size()) * spacing); };
        auto const push = [&](quenmark::AuditEvent event) {
            if (events.size() < count)
                events.push_back(std::move(event));
        };
        push(training_event("training.assignment.created", "training_assignment", assignment.id.to_string(),
                            assignment.principal_id.to_string(), AuditResult::Success, AuditCategory::Policy, at(),
                            assignment.tenant_id, assignment.workspace_id));
        push(training_event("training.knowledge_check.attempted", "knowledge_check_attempt", passed.id.to_string(),
                            passed.principal_id.to_string(), AuditResult::Success, AuditCategory::Privacy, at(),
                            passed.tenant_id, passed.workspace_id));
        if (auto const failed = generated.failed_attempt[record]) {
            auto const& attempt = store.attempts[*failed];
            push(training_event("training.knowledge_check.attempted", "knowledge_check_attempt",
                                attempt.id.to_string(), attempt.principal_id.to_string(), AuditResult::Denied,
                                AuditCategory::Privacy, at(), attempt.tenant_id, attempt.workspace_id));
        }
        if (generated.outcomes[record] == Outcome::Completed)
            push(training_event("training.assignment.completed", "training_assignment", assignment.id.to_string(),
                                assignment.principal_id.to_string(), AuditResult::Success, AuditCategory::Policy,
                                at(), assignment.tenant_id, assignment.workspace_id));
        push(training_event("training.certificate.issued", "certificate",
                            certificate.payload.certificate_id.to_string(),
                            certificate.payload.principal_id.to_string(), AuditResult::Success,
                            AuditCategory::Security, at(), certificate.payload.tenant_id,
                            certificate.payload.workspace_id));
        record = (record + 1) % store.assignments.size();
    }
    return events;
}

quenmark::Expected<std::vector<quenmark::SignedAuditEvent>, std::string>
link_chain(quenmark::SigningKey const& key, std::vector<quenmark::AuditEvent> events)
{
    std::vector<quenmark::SignedAuditEvent> entries;
    entries.reserve(events.size());
    quenmark::ChainHead head;
    for (auto& event : events) {
        auto entry = quenmark::link_event(head, key, std::move(event));
        if (!entry)
            return quenmark::unexpected("linking an audit event: " + entry.error().text());
        entries.push_back(std::move(*entry));
        auto next = quenmark::derive_head(std::span<quenmark::SignedAuditEvent const>(&entries.back(), 1));
        if (!next)
            return quenmark::unexpected("hashing an audit event: " + next.error().text());
        head = *next;
    }
    return entries;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return fail(program, "usage: corvella_generate DIR RECORDS EVENTS");
    std::string const directory = argv[1];
    auto const records = parse_count(argv[2]);
    auto const event_count = parse_count(argv[3]);
    if (!records || !event_count)
        return fail(program, "RECORDS and EVENTS must be positive whole numbers");
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST)
        return fail(program, "cannot create " + directory);

    quenmark::ensure_sodium();
    auto const key = quenmark::SigningKey::from_seed(key_seed);
    Timestamp const now = Timestamp::now();

    auto generated = generate_records(key, static_cast<std::size_t>(*records), now);
    if (!generated)
        return fail(program, generated.error());
    auto events = make_events(*generated, static_cast<std::size_t>(*event_count), now);
    auto entries = link_chain(key, std::move(events));
    if (!entries)
        return fail(program, entries.error());

    std::string text;
    corvellactl::write_store(generated->store, text);
    if (!corvella_bench::write_whole_file(directory + "/corvella-state.json", text))
        return fail(program, "cannot write the state file");
    text.clear();
    test_support::write_chain(*entries, text);
    if (!corvella_bench::write_whole_file(directory + "/corvella-audit.json", text))
        return fail(program, "cannot write the audit chain file");
    std::string const key_path = directory + "/corvella-signing-key.hex";
    bool const key_written = corvella_bench::write_whole_file(key_path, key.seed_text().text());
    if (!key_written || ::chmod(key_path.c_str(), 0600) != 0)
        return fail(program, "cannot write the signing key file");

    // The tool names its log's checkpoints after itself and the key.
    std::size_t const covered = entries->size() - entries->size() / 100;
    std::vector<quenmark::MerkleHash> leaves;
    leaves.reserve(covered);
    for (std::size_t index = 0; index < covered; ++index) {
        text.clear();
        quenmark::append_leaf_bytes((*entries)[index], text);
        leaves.push_back(quenmark::leaf_hash(text));
    }
    quenmark::Checkpoint const checkpoint { quenmark::checkpoint_origin("corvellactl-audit/", key.verifying_key()),
                                            covered, quenmark::tree_hash(leaves) };
    if (!corvella_bench::write_whole_file(directory + "/bench-checkpoint.note",
                                          quenmark::sign_checkpoint(checkpoint, key)))
        return fail(program, "cannot write bench-checkpoint.note");

    Store const& store = generated->store;
    std::string ids;
    ids += "assessment_id " + store.assessments.back().id.to_string() + "\n";
    ids += "assignment_id " + store.assignments.back().id.to_string() + "\n";
    ids += "passing_answers " + generated->passing_answers + "\n";
    ids += "completion_id " + store.completions.back().id.to_string() + "\n";
    ids += "certificate_id " + store.certificates.back().payload.certificate_id.to_string() + "\n";
    ids += "principal_id " + store.assignments.back().principal_id.to_string() + "\n";
    ids += "checkpoint_size " + std::to_string(covered) + "\n";
    if (!corvella_bench::write_whole_file(directory + "/bench-ids.txt", ids))
        return fail(program, "cannot write bench-ids.txt");

    // The batch commands' inputs: a cohort of new learners, and a passing
    // answer set for each of the last open assignments, up to batch_rows each.
    std::string cohort = "principal_id\n";
    std::string answers = "assignment_id,answers\n";
    std::size_t open = 0;
    for (std::size_t index = store.assignments.size(); index-- > 0 && open < batch_rows;) {
        if (generated->outcomes[index] != Outcome::Assigned)
            continue;
        auto const& assignment = store.assignments[index];
        auto const& assessment = store.assessments[assessment_of(index, store.assignments.size())];
        answers += assignment.id.to_string() + ",\"" + answers_text(assessment) + "\"\n";
        ++open;
    }
    for (std::size_t row = 0; row < batch_rows; ++row)
        cohort += "new\n";
    if (!corvella_bench::write_whole_file(directory + "/bench-batch-assign.csv", cohort)
        || !corvella_bench::write_whole_file(directory + "/bench-batch-attempt.csv", answers))
        return fail(program, "cannot write the batch files");
    std::printf("%s", ids.c_str());
    return 0;
}

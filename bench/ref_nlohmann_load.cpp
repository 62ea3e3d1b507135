// ref_nlohmann_load: the typed load of a state file as a typical
// implementation would write it with nlohmann::json: read the file, parse it
// into a json tree, then convert the tree member by member into the project's
// record structs (identifiers, instants and signatures through the project's
// own parsers, enumerations by name). The counterpart of load_state.
//
//   ref_nlohmann_load STATE_FILE [--check]
//
// Prints "seconds <elapsed>" and the number of records loaded. With --check
// it also loads the file with load_store and fails unless both loads give
// the same records. Uses nlohmann's non-throwing calls only.

#include "bench_support.h"

#include "store/state.h"

#include "corvella/enums.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/time/timestamp.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using nlohmann::json;

// Conversion of one document; the first failure sets m_failed and every
// later call returns quickly.
class Converter {
public:
    bool failed() const { return m_failed; }

    json const* member(json const& object, char const* name)
    {
        if (m_failed || !object.is_object())
            return fail();
        auto const found = object.find(name);
        if (found == object.end())
            return fail();
        return &*found;
    }

    std::string text(json const& object, char const* name)
    {
        json const* value = member(object, name);
        if (value == nullptr || !value->is_string()) {
            fail();
            return {};
        }
        return value->get_ref<std::string const&>();
    }

    template<typename Id>
    void id(json const& object, char const* name, Id& out)
    {
        auto const parsed = Id::parse(text(object, name));
        if (!parsed) {
            fail();
            return;
        }
        out = *parsed;
    }

    template<typename Id>
    void optional_id(json const& object, char const* name, std::optional<Id>& out)
    {
        out.reset();
        auto const found = object.find(name);
        if (found == object.end() || found->is_null())
            return;
        out.emplace();
        id(object, name, *out);
    }

    void instant(json const& object, char const* name, quenmark::Timestamp& out)
    {
        auto const parsed = quenmark::Timestamp::parse(text(object, name));
        if (!parsed) {
            fail();
            return;
        }
        out = *parsed;
    }

    void optional_instant(json const& object, char const* name, std::optional<quenmark::Timestamp>& out)
    {
        out.reset();
        auto const found = object.find(name);
        if (found == object.end() || found->is_null())
            return;
        out.emplace();
        instant(object, name, *out);
    }

    template<typename Unsigned>
    void number(json const& object, char const* name, Unsigned& out)
    {
        json const* value = member(object, name);
        if (value == nullptr || !value->is_number_unsigned()) {
            fail();
            return;
        }
        auto const wide = value->get<std::uint64_t>();
        if (wide > std::numeric_limits<Unsigned>::max()) {
            fail();
            return;
        }
        out = static_cast<Unsigned>(wide);
    }

    template<typename Enum, std::size_t Count>
    void enumeration(json const& object, char const* name, std::array<std::string_view, Count> const& names, Enum& out)
    {
        std::string const value = text(object, name);
        auto const found = std::find(names.begin(), names.end(), value);
        if (found == names.end()) {
            fail();
            return;
        }
        out = static_cast<Enum>(found - names.begin());
    }

    template<typename Record, typename Convert>
    void list(json const& document, char const* name, std::vector<Record>& out, Convert convert)
    {
        auto const found = document.find(name);
        if (found == document.end())
            return;
        if (!found->is_array()) {
            fail();
            return;
        }
        out.reserve(found->size());
        for (auto const& element : *found) {
            if (m_failed)
                return;
            convert(element, out.emplace_back());
        }
    }

    std::nullptr_t fail()
    {
        m_failed = true;
        return nullptr;
    }

private:
    bool m_failed { false };
};

void convert_assessment(Converter& c, json const& in, corvella::AssessmentDefinition& out)
{
    c.id(in, "id", out.id);
    c.id(in, "course_id", out.course_id);
    out.title = c.text(in, "title");
    c.number(in, "version", out.version);
    c.enumeration(in, "status", corvella::assessment_status_names, out.status);
    if (json const* rule = c.member(in, "passing_rule")) {
        if (json const* minimum = c.member(*rule, "minimum_correct")) {
            c.number(*minimum, "min_correct", out.passing_rule.min_correct);
            c.number(*minimum, "total_questions", out.passing_rule.total_questions);
        }
    }
    if (json const* questions = c.member(in, "questions"); questions != nullptr && questions->is_array()) {
        out.questions.reserve(questions->size());
        for (auto const& element : *questions) {
            auto& question = out.questions.emplace_back();
            c.id(element, "id", question.id);
            question.prompt = c.text(element, "prompt");
            if (json const* choices = c.member(element, "choices"); choices != nullptr && choices->is_array()) {
                question.choices.reserve(choices->size());
                for (auto const& choice : *choices) {
                    if (!choice.is_string()) {
                        c.fail();
                        break;
                    }
                    question.choices.push_back(choice.get_ref<std::string const&>());
                }
            } else {
                c.fail();
            }
            c.number(element, "correct_index", question.correct_index);
        }
    } else {
        c.fail();
    }
    c.number(in, "attempt_limit", out.attempt_limit);
}

void convert_assignment(Converter& c, json const& in, corvella::TrainingAssignment& out)
{
    c.id(in, "id", out.id);
    c.id(in, "tenant_id", out.tenant_id);
    c.id(in, "workspace_id", out.workspace_id);
    c.id(in, "principal_id", out.principal_id);
    c.id(in, "course_id", out.course_id);
    c.id(in, "assessment_id", out.assessment_id);
    c.enumeration(in, "assignment_reason", corvella::assignment_reason_names, out.assignment_reason);
    c.optional_instant(in, "due_at", out.due_at);
    c.enumeration(in, "status", corvella::assignment_status_names, out.status);
    c.instant(in, "created_at", out.created_at);
    c.instant(in, "updated_at", out.updated_at);
    c.optional_instant(in, "completed_at", out.completed_at);
}

void convert_attempt(Converter& c, json const& in, corvella::KnowledgeCheckAttempt& out)
{
    c.id(in, "id", out.id);
    c.id(in, "tenant_id", out.tenant_id);
    c.id(in, "workspace_id", out.workspace_id);
    c.id(in, "principal_id", out.principal_id);
    c.id(in, "assessment_id", out.assessment_id);
    c.number(in, "assessment_version", out.assessment_version);
    c.optional_id(in, "assignment_id", out.assignment_id);
    c.number(in, "attempt_number", out.attempt_number);
    c.enumeration(in, "status", corvella::attempt_status_names, out.status);
    c.enumeration(in, "score_band", corvella::score_band_names, out.score_band);
    c.enumeration(in, "safe_feedback", corvella::safe_feedback_names, out.safe_feedback);
    c.instant(in, "started_at", out.started_at);
    c.instant(in, "completed_at", out.completed_at);
    out.answers.clear();
    if (auto const found = in.find("answers"); found != in.end() && !found->is_null()) {
        if (!found->is_array()) {
            c.fail();
            return;
        }
        out.answers.reserve(found->size());
        for (auto const& answer : *found) {
            if (!answer.is_number_unsigned()) {
                c.fail();
                return;
            }
            out.answers.push_back(answer.get<std::uint64_t>());
        }
    }
}

void convert_completion(Converter& c, json const& in, corvella::CompletionRecord& out)
{
    c.id(in, "id", out.id);
    c.id(in, "tenant_id", out.tenant_id);
    c.id(in, "workspace_id", out.workspace_id);
    c.id(in, "principal_id", out.principal_id);
    c.optional_id(in, "assignment_id", out.assignment_id);
    c.id(in, "assessment_id", out.assessment_id);
    c.number(in, "assessment_version", out.assessment_version);
    c.id(in, "attempt_id", out.attempt_id);
    c.enumeration(in, "score_band", corvella::score_band_names, out.score_band);
    c.instant(in, "completed_at", out.completed_at);
    c.optional_instant(in, "expires_at", out.expires_at);
    out.evidence_ref.reset();
    if (auto const found = in.find("evidence_ref"); found != in.end() && !found->is_null())
        out.evidence_ref = c.text(in, "evidence_ref");
}

void convert_certificate(Converter& c, json const& in, corvella::Certificate& out)
{
    json const* payload = c.member(in, "payload");
    if (payload == nullptr)
        return;
    auto& p = out.payload;
    c.id(*payload, "certificate_id", p.certificate_id);
    c.id(*payload, "tenant_id", p.tenant_id);
    c.id(*payload, "workspace_id", p.workspace_id);
    c.id(*payload, "principal_id", p.principal_id);
    c.id(*payload, "course_id", p.course_id);
    c.id(*payload, "assessment_id", p.assessment_id);
    c.number(*payload, "assessment_version", p.assessment_version);
    c.id(*payload, "completion_record_id", p.completion_record_id);
    c.enumeration(*payload, "score_band", corvella::score_band_names, p.score_band);
    c.instant(*payload, "issued_at", p.issued_at);
    c.instant(*payload, "expires_at", p.expires_at);
    auto const signature = quenmark::Signature::parse(c.text(in, "signature"));
    if (!signature) {
        c.fail();
        return;
    }
    out.signature = *signature;
}

std::optional<corvellactl::Store> load(std::string const& path)
{
    auto const text = corvella_bench::read_whole_file(path);
    if (!text)
        return std::nullopt;
    json const document = json::parse(*text, /*cb=*/nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object())
        return std::nullopt;
    corvellactl::Store store;
    Converter c;
    c.list(document, "assessments", store.assessments,
           [&c](json const& in, corvella::AssessmentDefinition& out) { convert_assessment(c, in, out); });
    c.list(document, "assignments", store.assignments,
           [&c](json const& in, corvella::TrainingAssignment& out) { convert_assignment(c, in, out); });
    c.list(document, "attempts", store.attempts,
           [&c](json const& in, corvella::KnowledgeCheckAttempt& out) { convert_attempt(c, in, out); });
    c.list(document, "completions", store.completions,
           [&c](json const& in, corvella::CompletionRecord& out) { convert_completion(c, in, out); });
    c.list(document, "certificates", store.certificates,
           [&c](json const& in, corvella::Certificate& out) { convert_certificate(c, in, out); });
    if (c.failed())
        return std::nullopt;
    return store;
}

bool same_records(corvellactl::Store const& left, corvellactl::Store const& right)
{
    return left.assessments == right.assessments && left.assignments == right.assignments
        && left.attempts == right.attempts && left.completions == right.completions
        && left.certificates == right.certificates;
}

} // namespace

int main(int argc, char** argv)
{
    constexpr std::string_view program = "ref_nlohmann_load";
    bool const check = argc == 3 && std::strcmp(argv[2], "--check") == 0;
    if (argc != 2 && !check)
        return corvella_bench::fail(program, "usage: ref_nlohmann_load STATE_FILE [--check]");
    corvella_bench::Stopwatch const stopwatch;
    auto const store = load(argv[1]);
    double const elapsed = stopwatch.seconds();
    if (!store)
        return corvella_bench::fail(program, "the state file does not load");
    if (check) {
        auto const own = corvellactl::load_store(argv[1]);
        if (!own)
            return corvella_bench::fail(program, own.error().text());
        if (!same_records(*store, *own))
            return corvella_bench::fail(program, "the two loads differ");
    }
    corvella_bench::print_seconds(elapsed);
    std::printf("records %zu\n", store->assessments.size() + store->assignments.size() + store->attempts.size()
                    + store->completions.size() + store->certificates.size());
    return 0;
}

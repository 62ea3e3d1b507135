#include "command.h"
#include "commands/questions.h"
#include "output.h"
#include "progress.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/state.h"

#include "corvella/assessment.h"
#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "quenmark/json/read.h"
#include "quenmark/text/text.h"

#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

// The questions of one assessment: thousands of them fit.
constexpr SizeCap questions_cap { std::size_t { 1 } << 20U, "a questions file" };

// Reads a questions file: a JSON array of {prompt, choices, correct_index}.
CommandResult<std::vector<corvella::RawQuestion>> read_questions(std::string const& path)
{
    auto const text = TRY(read_padded_text(path, quenmark::json::read_padding, /*progress=*/nullptr, questions_cap));
    auto questions = parse_questions(text.data(), text.size());
    if (!questions)
        return quenmark::unexpected(CommandError::json(std::move(questions).error()));
    return std::move(*questions);
}

// The number of questions as the passing rule counts them. A count beyond
// the rule's range stays out of range, so building the definition refuses it.
std::uint32_t question_total(std::size_t count)
{
    return count > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(count);
}

// An assessment's members in the JSON results: never its answer key or
// passing rule.
void describe(JsonObject& object, corvella::AssessmentDefinition const& definition)
{
    object.text("id", definition.id)
        .text("title", definition.title)
        .text("course_id", definition.course_id)
        .text("status", corvella::stored_name(definition.status))
        .number("version", std::uint64_t { definition.version })
        .number("questions", std::uint64_t { definition.questions.size() })
        .number("attempt_limit", std::uint64_t { definition.attempt_limit });
}

class AssessmentCreate final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--title", m_title, { .value_name = "TITLE", .required = true });
        declaration.text("--course-id", m_course_id,
                         { .value_name = "COURSE_ID", .help = "Existing course id, or `new` to mint one",
                           .default_value = "new" });
        declaration.integer("--min-correct", m_min_correct, { .value_name = "MIN_CORRECT", .required = true });
        declaration.integer("--attempt-limit", m_attempt_limit, { .value_name = "ATTEMPT_LIMIT", .default_value = "3" });
        declaration.text("--questions", m_questions,
                         { .value_name = "QUESTIONS",
                           .help = "Path to a JSON file: `[{\"prompt\": \"...\", \"choices\": [\"a\",\"b\"], "
                                   "\"correct_index\": 0}]`",
                           .required = true });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_title;
    std::string m_course_id;
    std::uint32_t m_min_correct { 0 };
    std::uint32_t m_attempt_limit { 3 };
    std::string m_questions;
};

// `assessment publish` and `assessment inspect`: the one positional identifier.
class AssessmentById : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("ID", m_id, { .value_name = "ID", .required = true });
    }

protected:
    std::string m_id;
};

class AssessmentPublish final : public AssessmentById {
public:
    CommandResult<void> run(CommandContext const& context) override;
};

class AssessmentInspect final : public AssessmentById {
public:
    CommandResult<void> run(CommandContext const& context) override;
};

CommandResult<void> AssessmentCreate::run(CommandContext const& context)
{
    auto const lock = TRY(DirectoryLock::acquire({ context.state_path }));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const course_id = TRY(corvella::mint_or_parse<corvella::CourseId>(m_course_id));

    auto raw_questions = TRY(read_questions(m_questions));
    if (raw_questions.empty())
        return quenmark::unexpected(CommandError::message("questions file must contain at least one question"));
    std::vector<corvella::Question> questions;
    questions.reserve(raw_questions.size());
    for (auto& raw : raw_questions)
        questions.push_back(TRY(corvella::build_question(std::move(raw))));

    std::uint32_t const total = question_total(questions.size());
    TRY(corvella::build_passing_rule(m_min_correct, total));
    auto definition = TRY(corvella::build_assessment(corvella::NewAssessment {
        .title = m_title,
        .course_id = course_id,
        .version = 1,
        .min_correct = m_min_correct,
        .total_questions = total,
        .questions = std::move(questions),
        .attempt_limit = m_attempt_limit,
    }));

    // Stored first, announced after: the line names a record the file holds.
    Results results(context.format);
    results.add(concat("created assessment ", definition.id, " \"", definition.title, "\" \u2014 ",
                       corvella::stored_name(definition.status), ", version ", definition.version, ", ",
                       definition.questions.size(), " questions, course ", definition.course_id, '\n'),
                "assessment", [&definition](JsonObject& object) { describe(object, definition); });
    store.assessments.push_back(std::move(definition));
    TRY(save_store(context.state_path, store));
    return print_after_commit(results);
}

CommandResult<void> AssessmentPublish::run(CommandContext const& context)
{
    auto const lock = TRY(DirectoryLock::acquire({ context.state_path }));
    auto store = TRY(load_store_with_progress(context.state_path));
    auto const id = TRY(corvella::AssessmentId::parse(m_id));
    auto* definition = TRY(find(store, id));
    *definition = corvella::publish(std::move(*definition));

    TRY(save_store(context.state_path, store));
    Results results(context.format);
    results.add(concat("published assessment ", id, '\n'), "assessment",
                [definition](JsonObject& object) { describe(object, *definition); });
    return print_after_commit(results);
}

CommandResult<void> run_assessment_list(CommandContext const& context)
{
    // Of the state only the assessments, and of their questions how many.
    StoreUse const use { .question_texts = false,
                         .assignments = false,
                         .attempts = false,
                         .completions = false,
                         .certificates = false };
    auto const store = TRY(load_store_with_progress(context.state_path, use));
    Results results(context.format);
    if (store.assessments.empty() && !results.json())
        return print("no assessments yet\n");
    for (auto const& definition : store.assessments) {
        results.add(concat(definition.id, "  [", corvella::display_name(definition.status), "]  v", definition.version,
                           "  \"", definition.title, "\"  (", definition.questions.size(), " questions, limit ",
                           definition.attempt_limit, ")\n"),
                    "assessment", [&definition](JsonObject& object) { describe(object, definition); });
    }
    return print(results);
}

CommandResult<void> AssessmentInspect::run(CommandContext const& context)
{
    // Of the state only this assessment. An identifier that does not parse
    // is refused after the state is read, as always.
    StoreUse use { .assignments = false, .attempts = false, .completions = false, .certificates = false };
    if (auto const assessment = corvella::AssessmentId::parse(m_id))
        use.assessment = *assessment;
    auto const store = TRY(load_store_with_progress(context.state_path, use));
    auto const id = TRY(corvella::AssessmentId::parse(m_id));
    auto const* definition = TRY(find(store, id));

    std::string out = concat("id:            ", definition->id, "\ntitle:         ", definition->title,
                             "\ncourse:        ", definition->course_id,
                             "\nstatus:        ", corvella::display_name(definition->status),
                             "\nversion:       ", definition->version,
                             "\nattempt_limit: ", definition->attempt_limit,
                             "\nquestions:     ", definition->questions.size(), '\n');
    // Only the learner view is printed: never the answer key, the passing
    // rule or the question ids.
    auto const view = corvella::learner_view(*definition);
    if (!view) {
        out += "(no learner-facing view: " + view.error().text() + ")\n";
    } else {
        std::uint64_t number = 1;
        for (auto const& question : view->questions) {
            append_parts(out, "  Q", number++, ": ", question.prompt, '\n');
            std::uint64_t index = 0;
            for (auto const& choice : question.choices)
                append_parts(out, "      ", index++, ") ", choice, '\n');
        }
    }
    Results results(context.format);
    results.add(out, "assessment", [&](JsonObject& object) {
        describe(object, *definition);
        if (!view) {
            object.null("learner_view").text("no_learner_view", view.error().text());
            return;
        }
        object.objects("learner_view", view->questions, [](JsonObject& question, auto const& shown) {
            question.text("prompt", shown.prompt).texts("choices", shown.choices);
        });
    });
    return print(results);
}

} // namespace

std::unique_ptr<Command> make_assessment_create() { return std::make_unique<AssessmentCreate>(); }
std::unique_ptr<Command> make_assessment_publish() { return std::make_unique<AssessmentPublish>(); }
std::unique_ptr<Command> make_assessment_list() { return std::make_unique<PlainCommand<run_assessment_list>>(); }
std::unique_ptr<Command> make_assessment_inspect() { return std::make_unique<AssessmentInspect>(); }

} // namespace corvellactl

#include "commands/commands.h"

#include "commands/questions.h"
#include "output.h"
#include "store/files.h"
#include "store/state.h"

#include "corvella/assessment.h"
#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "quenmark/json/read.h"
#include "quenmark/text/text.h"

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace corvellactl {
namespace {

// Reads a questions file: a JSON array of {prompt, choices, correct_index}.
CommandResult<std::vector<corvella::RawQuestion>> read_questions(std::string const& path)
{
    auto const text = TRY(read_padded_text(path, quenmark::json::read_padding));
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

} // namespace

CommandResult<void> run_assessment_create(CommandContext const& context, AssessmentCreateArgs const& args)
{
    auto const lock = TRY(DirectoryLock::acquire({ context.state_path }));
    auto store = TRY(load_store(context.state_path));
    auto const course_id = TRY(corvella::mint_or_parse<corvella::CourseId>(args.course_id));

    auto raw_questions = TRY(read_questions(args.questions));
    if (raw_questions.empty())
        return quenmark::unexpected(CommandError::message("questions file must contain at least one question"));
    std::vector<corvella::Question> questions;
    questions.reserve(raw_questions.size());
    for (auto& raw : raw_questions)
        questions.push_back(TRY(corvella::build_question(std::move(raw))));

    std::uint32_t const total = question_total(questions.size());
    TRY(corvella::build_passing_rule(args.min_correct, total));
    auto definition = TRY(corvella::build_assessment(corvella::NewAssessment {
        .title = args.title,
        .course_id = course_id,
        .version = 1,
        .min_correct = args.min_correct,
        .total_questions = total,
        .questions = std::move(questions),
        .attempt_limit = args.attempt_limit,
    }));

    // Stored first, announced after: the line names a record the file holds.
    std::string const line = concat("created assessment ", definition.id, " \"", definition.title, "\" \u2014 ",
                                    corvella::stored_name(definition.status), ", version ", definition.version, ", ",
                                    definition.questions.size(), " questions, course ", definition.course_id, '\n');
    store.assessments.push_back(std::move(definition));
    TRY(save_store(context.state_path, store));
    return print(line);
}

CommandResult<void> run_assessment_publish(CommandContext const& context, AssessmentIdArgs const& args)
{
    auto const lock = TRY(DirectoryLock::acquire({ context.state_path }));
    auto store = TRY(load_store(context.state_path));
    auto const id = TRY(corvella::AssessmentId::parse(args.id));
    auto* definition = TRY(find(store, id));
    *definition = corvella::publish(std::move(*definition));

    TRY(save_store(context.state_path, store));
    return print(concat("published assessment ", id, '\n'));
}

CommandResult<void> run_assessment_list(CommandContext const& context)
{
    auto const store = TRY(load_store(context.state_path));
    if (store.assessments.empty())
        return print("no assessments yet\n");

    std::string out;
    out.reserve(store.assessments.size() * 128);
    for (auto const& definition : store.assessments) {
        append_parts(out, definition.id, "  [", corvella::display_name(definition.status), "]  v", definition.version,
                     "  \"", definition.title, "\"  (", definition.questions.size(), " questions, limit ",
                     definition.attempt_limit, ")\n");
    }
    return print(out);
}

CommandResult<void> run_assessment_inspect(CommandContext const& context, AssessmentIdArgs const& args)
{
    auto const store = TRY(load_store(context.state_path));
    auto const id = TRY(corvella::AssessmentId::parse(args.id));
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
        return print(out);
    }
    std::uint64_t number = 1;
    for (auto const& question : view->questions) {
        append_parts(out, "  Q", number++, ": ", question.prompt, '\n');
        std::uint64_t index = 0;
        for (auto const& choice : question.choices)
            append_parts(out, "      ", index++, ") ", choice, '\n');
    }
    return print(out);
}

} // namespace corvellactl

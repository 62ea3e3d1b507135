#include "commands/commands.h"

#include "output.h"
#include "store/files.h"
#include "store/state.h"

#include "corvella/assessment.h"
#include "corvella/enums.h"
#include "corvella/ids/ids.h"
#include "quenmark/json_read.h"
#include "quenmark/text.h"

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
    std::vector<corvella::RawQuestion> questions;
    auto const read_root = [&questions](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
        return root.array([&questions](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
            return read_json(element, questions.emplace_back());
        });
    };
    auto const result = quenmark::json::read_padded_document(text.data(), text.size(), read_root);
    if (!result)
        return quenmark::unexpected(CommandError::json(result.error()));
    return questions;
}

// The number of questions as the passing rule counts them. A count beyond
// the rule's range stays out of range, so building the definition refuses it.
std::uint32_t question_total(std::size_t count)
{
    return count > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(count);
}

void append_line_end(std::string& out) { out.push_back('\n'); }

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

    std::string line = "created assessment ";
    definition.id.append_to(line);
    line += " \"" + definition.title + "\" \u2014 ";
    line += corvella::stored_name(definition.status);
    line += ", version ";
    quenmark::append_decimal(line, std::uint64_t { definition.version });
    line += ", ";
    quenmark::append_decimal(line, std::uint64_t { definition.questions.size() });
    line += " questions, course ";
    definition.course_id.append_to(line);
    append_line_end(line);
    TRY(print(line));

    store.assessments.push_back(std::move(definition));
    return save_store(context.state_path, store);
}

CommandResult<void> run_assessment_publish(CommandContext const& context, AssessmentIdArgs const& args)
{
    auto const lock = TRY(DirectoryLock::acquire({ context.state_path }));
    auto store = TRY(load_store(context.state_path));
    auto const id = TRY(corvella::AssessmentId::parse(args.id));
    auto* definition = TRY(find(store, id));
    *definition = corvella::publish(std::move(*definition));

    TRY(print("published assessment " + id.to_string() + "\n"));
    return save_store(context.state_path, store);
}

CommandResult<void> run_assessment_list(CommandContext const& context)
{
    auto const store = TRY(load_store(context.state_path));
    if (store.assessments.empty())
        return print("no assessments yet\n");

    std::string out;
    out.reserve(store.assessments.size() * 128);
    for (auto const& definition : store.assessments) {
        definition.id.append_to(out);
        out += "  [";
        out += corvella::display_name(definition.status);
        out += "]  v";
        quenmark::append_decimal(out, std::uint64_t { definition.version });
        out += "  \"" + definition.title + "\"  (";
        quenmark::append_decimal(out, std::uint64_t { definition.questions.size() });
        out += " questions, limit ";
        quenmark::append_decimal(out, std::uint64_t { definition.attempt_limit });
        out += ")\n";
    }
    return print(out);
}

CommandResult<void> run_assessment_inspect(CommandContext const& context, AssessmentIdArgs const& args)
{
    auto const store = TRY(load_store(context.state_path));
    auto const id = TRY(corvella::AssessmentId::parse(args.id));
    auto const* definition = TRY(find(store, id));

    std::string out;
    out += "id:            ";
    definition->id.append_to(out);
    out += "\ntitle:         " + definition->title;
    out += "\ncourse:        ";
    definition->course_id.append_to(out);
    out += "\nstatus:        ";
    out += corvella::display_name(definition->status);
    out += "\nversion:       ";
    quenmark::append_decimal(out, std::uint64_t { definition->version });
    out += "\nattempt_limit: ";
    quenmark::append_decimal(out, std::uint64_t { definition->attempt_limit });
    out += "\nquestions:     ";
    quenmark::append_decimal(out, std::uint64_t { definition->questions.size() });
    append_line_end(out);

    // Only the learner view is printed: never the answer key, the passing
    // rule or the question ids.
    auto const view = corvella::learner_view(*definition);
    if (!view) {
        out += "(no learner-facing view: " + view.error().text() + ")\n";
        return print(out);
    }
    std::uint64_t number = 1;
    for (auto const& question : view->questions) {
        out += "  Q";
        quenmark::append_decimal(out, number++);
        out += ": " + question.prompt;
        append_line_end(out);
        std::uint64_t index = 0;
        for (auto const& choice : question.choices) {
            out += "      ";
            quenmark::append_decimal(out, index++);
            out += ") " + choice;
            append_line_end(out);
        }
    }
    return print(out);
}

} // namespace corvellactl

#include "store/state.h"

#include "store/files.h"

#include "quenmark/json.h"
#include "quenmark/json_read.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace corvellactl {
namespace {

constexpr std::array<std::string_view, 5> member_names {
    "assessments", "assignments", "attempts", "completions", "certificates",
};

template<typename Record>
quenmark::json::Read<void> read_list(quenmark::json::ValueReader& reader, std::vector<Record>& list)
{
    return reader.array([&list](quenmark::json::ValueReader& element) -> quenmark::json::Read<void> {
        return read_json(element, list.emplace_back());
    });
}

template<typename Record>
void write_list(quenmark::json::Sink& sink, std::string_view name, std::vector<Record> const& list)
{
    sink.key(name);
    sink.begin_array();
    for (auto const& record : list)
        write_json(sink, record);
    sink.end_array();
}

// The first record whose key equals `id`, or null; const follows the list.
template<typename List, typename Id, typename KeyOf>
auto find_first(List& list, Id const& id, KeyOf key_of) -> decltype(&*list.begin())
{
    auto const found = std::find_if(list.begin(), list.end(), [&](auto const& record) { return key_of(record) == id; });
    return found == list.end() ? nullptr : &*found;
}

template<typename Record>
CommandResult<Record*> found_or_not(Record* record, std::string_view kind, std::string id_text)
{
    if (record == nullptr)
        return quenmark::unexpected(CommandError::not_found(std::string(kind) + " " + id_text));
    return record;
}

auto const assessment_key = [](corvella::AssessmentDefinition const& record) { return record.id; };
auto const assignment_key = [](corvella::TrainingAssignment const& record) { return record.id; };
auto const completion_key = [](corvella::CompletionRecord const& record) { return record.id; };
auto const certificate_key = [](corvella::Certificate const& record) { return record.payload.certificate_id; };

// A rough size of the written form, so the output buffer grows rarely.
std::size_t estimated_size(Store const& store)
{
    std::size_t size = 128;
    for (auto const& assessment : store.assessments) {
        size += 512;
        for (auto const& question : assessment.questions) {
            size += 160 + question.prompt.size();
            for (auto const& choice : question.choices)
                size += 16 + choice.size();
        }
    }
    size += store.assignments.size() * 640 + store.attempts.size() * 700 + store.completions.size() * 700
        + store.certificates.size() * 1000;
    return size;
}

} // namespace

quenmark::Expected<Store, std::string> parse_store(char const* data, std::size_t size)
{
    Store store;
    auto const read_root = [&store](quenmark::json::ValueReader& root) -> quenmark::json::Read<void> {
        auto const on_member = [&store](std::size_t index,
                                        quenmark::json::ValueReader& value) -> quenmark::json::Read<void> {
            switch (index) {
            case 0:
                return read_list(value, store.assessments);
            case 1:
                return read_list(value, store.assignments);
            case 2:
                return read_list(value, store.attempts);
            case 3:
                return read_list(value, store.completions);
            default:
                return read_list(value, store.certificates);
            }
        };
        TRY(root.object(member_names, /*required=*/0, on_member));
        return {};
    };
    auto const result = quenmark::json::read_padded_document(data, size, read_root);
    if (!result)
        return quenmark::unexpected(result.error());
    return store;
}

CommandResult<Store> load_store(std::string const& path)
{
    if (!path_exists(path))
        return Store {};
    auto const text = TRY(read_padded_text(path, quenmark::json::read_padding));
    auto store = parse_store(text.data(), text.size());
    if (!store)
        return quenmark::unexpected(CommandError::json(std::move(store).error()));
    return std::move(*store);
}

void write_store(Store const& store, std::string& out)
{
    quenmark::json::PrettyWriter writer(out);
    writer.begin_object();
    write_list(writer, member_names[0], store.assessments);
    write_list(writer, member_names[1], store.assignments);
    write_list(writer, member_names[2], store.attempts);
    write_list(writer, member_names[3], store.completions);
    write_list(writer, member_names[4], store.certificates);
    writer.end_object();
}

CommandResult<void> save_store(std::string const& path, Store const& store)
{
    std::string text;
    text.reserve(estimated_size(store));
    write_store(store, text);
    return replace_file(path, text);
}

CommandResult<corvella::AssessmentDefinition*> find_assessment(Store& store, corvella::AssessmentId const& id)
{
    return found_or_not(find_first(store.assessments, id, assessment_key), "assessment", id.to_string());
}

CommandResult<corvella::AssessmentDefinition const*> find_assessment(Store const& store,
                                                                     corvella::AssessmentId const& id)
{
    return found_or_not(find_first(store.assessments, id, assessment_key), "assessment", id.to_string());
}

CommandResult<corvella::TrainingAssignment*> find_assignment(Store& store, corvella::AssignmentId const& id)
{
    return found_or_not(find_first(store.assignments, id, assignment_key), "assignment", id.to_string());
}

CommandResult<corvella::TrainingAssignment const*> find_assignment(Store const& store,
                                                                   corvella::AssignmentId const& id)
{
    return found_or_not(find_first(store.assignments, id, assignment_key), "assignment", id.to_string());
}

CommandResult<corvella::CompletionRecord*> find_completion(Store& store, corvella::CompletionRecordId const& id)
{
    return found_or_not(find_first(store.completions, id, completion_key), "completion record", id.to_string());
}

CommandResult<corvella::CompletionRecord const*> find_completion(Store const& store,
                                                                 corvella::CompletionRecordId const& id)
{
    return found_or_not(find_first(store.completions, id, completion_key), "completion record", id.to_string());
}

CommandResult<corvella::Certificate*> find_certificate(Store& store, corvella::CertificationId const& id)
{
    return found_or_not(find_first(store.certificates, id, certificate_key), "certificate", id.to_string());
}

CommandResult<corvella::Certificate const*> find_certificate(Store const& store, corvella::CertificationId const& id)
{
    return found_or_not(find_first(store.certificates, id, certificate_key), "certificate", id.to_string());
}

void replace_assignment(Store& store, corvella::TrainingAssignment assignment)
{
    if (auto* stored = find_first(store.assignments, assignment.id, assignment_key)) {
        *stored = std::move(assignment);
        return;
    }
    store.assignments.push_back(std::move(assignment));
}

} // namespace corvellactl

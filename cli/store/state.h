#pragma once

// The state file and its in-memory form: five ordered lists of records, no
// index; lookups scan in list order and take the first match.

#include "context.h"

#include "corvella/assessment.h"
#include "corvella/certificate.h"
#include "corvella/ids/ids.h"
#include "corvella/records.h"
#include "quenmark/expected.h"

#include <string>
#include <string_view>
#include <vector>

namespace corvellactl {

struct Store {
    std::vector<corvella::AssessmentDefinition> assessments;
    std::vector<corvella::TrainingAssignment> assignments;
    std::vector<corvella::KnowledgeCheckAttempt> attempts;
    std::vector<corvella::CompletionRecord> completions;
    std::vector<corvella::Certificate> certificates;
};

// Reads the state file. A path whose metadata cannot be read is an empty
// store (no file is created); an unreadable file or one that is not UTF-8 is
// Io; text that is not a state object is Json. Members may come in any order,
// missing ones are empty lists, unknown ones are skipped, a repeated one fails.
[[nodiscard]] CommandResult<Store> load_store(std::string const& path);

// Parses state text that is followed by at least quenmark::json::read_padding
// readable bytes; errors are the reader's message with line and column.
[[nodiscard]] quenmark::Expected<Store, std::string> parse_store(char const* data, std::size_t size);

// Appends the file form: the five lists in order, pretty printed, no final
// line feed.
void write_store(Store const& store, std::string& out);

// Replaces the state file with the store's file form, atomically.
[[nodiscard]] CommandResult<void> save_store(std::string const& path, Store const& store);

// The first record with the identifier; NotFound ("assessment " + id, ...)
// when there is none. A certificate is found by its payload's certificate id.
[[nodiscard]] CommandResult<corvella::AssessmentDefinition*> find_assessment(Store& store,
                                                                             corvella::AssessmentId const& id);
[[nodiscard]] CommandResult<corvella::AssessmentDefinition const*>
find_assessment(Store const& store, corvella::AssessmentId const& id);
[[nodiscard]] CommandResult<corvella::TrainingAssignment*> find_assignment(Store& store,
                                                                           corvella::AssignmentId const& id);
[[nodiscard]] CommandResult<corvella::TrainingAssignment const*>
find_assignment(Store const& store, corvella::AssignmentId const& id);
[[nodiscard]] CommandResult<corvella::CompletionRecord*> find_completion(Store& store,
                                                                         corvella::CompletionRecordId const& id);
[[nodiscard]] CommandResult<corvella::CompletionRecord const*>
find_completion(Store const& store, corvella::CompletionRecordId const& id);
[[nodiscard]] CommandResult<corvella::Certificate*> find_certificate(Store& store,
                                                                     corvella::CertificationId const& id);
[[nodiscard]] CommandResult<corvella::Certificate const*> find_certificate(Store const& store,
                                                                           corvella::CertificationId const& id);

// Overwrites the first assignment with the same id, or appends it when none
// has that id.
void replace_assignment(Store& store, corvella::TrainingAssignment assignment);

} // namespace corvellactl

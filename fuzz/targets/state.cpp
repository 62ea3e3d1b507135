// The state file: the JSON checks agree on it (see canonical_json.cpp);
// whatever parse_store accepts is JSON, is written back in a form that reads
// as the same store and is written again byte for byte, and each
// certificate's signed bytes are those of the one canonicaliser. A refusal
// names a line and column inside the input. Read with both cores as laid
// out by the writer, a text gives the same store or is left to the reader
// of the whole, whatever the buffer it streams through; the written form
// always reads that way. A reading that keeps only some lists, or one
// principal's, one assessment's, one certificate's, some assignments' or
// some certificates' records (with the holdings of the others), refuses the
// same texts with the same words and keeps exactly those, counting the
// records of the lists it does not keep, by class when asked, and leaving
// the titles, answer keys and completion links of every record read when
// asked.

#include "json_checks.h"

#include "store/state.h"

#include "corvella/certificate.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// Which lists a reading keeps, and how big its buffer is, from the input's
// length, so that every input is read one more way than in full.
// The principal picked, when one is, is that of the first assignment; the
// assessment, the first assessment; the certificate, the last certificate.
corvellactl::StoreUse use_for(std::size_t size, corvellactl::Store const* store)
{
    auto const bit = [size](unsigned shift) { return ((size * 2654435761U) >> (shift + 7)) % 2 == 0; };
    corvellactl::StoreUse use { .assessments = bit(0),
                                .questions = bit(1),
                                .assignments = bit(2),
                                .attempts = bit(3),
                                .completions = bit(4),
                                .certificates = bit(5) };
    use.question_texts = bit(7);
    if (bit(6) && store != nullptr && !store->assignments.empty())
        use.principal = store->assignments.front().principal_id;
    if (bit(8) && store != nullptr && !store->assessments.empty())
        use.assessment = store->assessments.front().id;
    if (bit(9) && store != nullptr && !store->certificates.empty())
        use.certificate = store->certificates.back().payload.certificate_id;
    if (bit(10)) {
        use.classify_assessment = [](corvella::AssessmentDefinition const& record) {
            return 1U << (static_cast<unsigned>(record.status) + 4U);
        };
        use.classify_assignment = [](corvella::TrainingAssignment const& record) {
            return (1U << static_cast<unsigned>(record.status)) | (record.due_at ? 1U << 31U : 0U);
        };
        use.classify_certificate = [](corvella::Certificate const& record) {
            return record.revocation ? 1U << 8U : 0U;
        };
    }
    if (bit(11))
        use.pick_assignment = [](corvella::TrainingAssignment const& record) { return record.due_at.has_value(); };
    if (bit(12))
        use.pick_certificate = [](corvella::Certificate const& record) { return record.revocation.has_value(); };
    use.titles = bit(13);
    use.answer_keys = bit(14);
    use.completion_links = bit(15);
    return use;
}

std::size_t buffer_for(std::size_t size) { return 1 + size % 89; }

corvellactl::Store kept(corvellactl::Store store, corvellactl::StoreUse const& use)
{
    auto const keep = [](bool used, auto& list, std::size_t& not_kept) {
        if (!used) {
            not_kept = list.size();
            list.clear();
        }
    };
    auto const count = [&store](auto const& classify, bool used, auto const& list) {
        for (auto const& record : classify && !used ? list : std::decay_t<decltype(list)>()) {
            for (unsigned place = 0; place < store.tally.size(); ++place)
                store.tally[place] += (classify(record) >> place) & 1U;
        }
    };
    for (auto const& record : use.titles ? store.assessments : decltype(store.assessments)())
        store.titles.add(record.id, record.title);
    for (auto const& record : use.answer_keys ? store.assessments : decltype(store.assessments)()) {
        auto& key = store.answer_keys.emplace_back();
        for (auto const& question : record.questions)
            key.push_back(question.correct_index);
    }
    for (auto const& record : use.completion_links ? store.completions : decltype(store.completions)())
        store.completion_links.push_back({ .id = record.id, .assignment_id = record.assignment_id });
    count(use.classify_assessment, use.assessments, store.assessments);
    count(use.classify_assignment, use.assignments, store.assignments);
    count(use.classify_certificate, use.certificates, store.certificates);
    keep(use.assessments, store.assessments, store.not_kept.assessments);
    keep(use.assignments, store.assignments, store.not_kept.assignments);
    keep(use.attempts, store.attempts, store.not_kept.attempts);
    keep(use.completions, store.completions, store.not_kept.completions);
    keep(use.certificates, store.certificates, store.not_kept.certificates);
    for (auto& assessment : store.assessments) {
        if (!use.questions)
            assessment.questions.clear();
        for (auto& question : use.question_texts ? std::span<corvella::Question>() : assessment.questions) {
            question.prompt.clear();
            question.choices.clear();
        }
    }
    if (use.pick_assignment)
        std::erase_if(store.assignments, [&use](auto const& record) { return !use.pick_assignment(record); });
    if (use.pick_certificate) {
        for (auto const& record : store.certificates) {
            if (!use.pick_certificate(record))
                store.holdings.push_back(corvella::holding_of(record));
        }
        std::erase_if(store.certificates, [&use](auto const& record) { return !use.pick_certificate(record); });
    }
    if (use.assessment) {
        auto const other = [&use](corvella::AssessmentId const& assessment) { return assessment != *use.assessment; };
        std::erase_if(store.assessments, [&](auto const& record) { return other(record.id); });
        std::erase_if(store.assignments, [&](auto const& record) { return other(record.assessment_id); });
        std::erase_if(store.attempts, [&](auto const& record) { return other(record.assessment_id); });
    }
    if (use.principal) {
        auto const other = [&use](corvella::IdentityId const& principal) { return principal != *use.principal; };
        std::erase_if(store.assignments, [&](auto const& record) { return other(record.principal_id); });
        std::erase_if(store.attempts, [&](auto const& record) { return other(record.principal_id); });
        std::erase_if(store.completions, [&](auto const& record) { return other(record.principal_id); });
        std::erase_if(store.certificates, [&](auto const& record) { return other(record.payload.principal_id); });
    }
    if (use.certificate) {
        std::erase_if(store.certificates,
                      [&use](auto const& record) { return record.payload.certificate_id != *use.certificate; });
    }
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const text = fuzz::text_of(data, size);
    fuzz::require_agreement(text);
    fuzz::Padded const input(text);
    auto const store = corvellactl::parse_store(input.data(), input.size());
    auto const laid_out = corvellactl::parse_laid_out_store(input.data(), input.size());
    fuzz::require(!laid_out || (store && *laid_out == *store), "a laid-out state file reads as the same store");
    auto const use = use_for(size, store ? &*store : nullptr);
    auto const streamed = corvellactl::parse_laid_out_store(input.data(), input.size(), use, buffer_for(size));
    fuzz::require(!streamed || (store && *streamed == kept(*store, use)),
                  "a laid-out state file streamed through a small buffer reads as the same store");
    auto const partial = corvellactl::parse_store(input.data(), input.size(), use);
    fuzz::require(partial.has_value() == store.has_value(), "a reading that keeps some lists refuses the same texts");
    fuzz::require(store ? *partial == kept(*store, use) : partial.error() == store.error(),
                  "a reading that keeps some lists keeps them, or refuses in the same words");
    if (!store) {
        fuzz::require(fuzz::names_a_position(store.error(), text), "a refused state file names a place in it");
        return 0;
    }
    fuzz::require_json(text, "an accepted state file is JSON");

    std::string written;
    corvellactl::write_store(*store, written);
    fuzz::Padded const written_input(written);
    auto const reread = corvellactl::parse_store(written_input.data(), written_input.size());
    fuzz::require(reread.has_value(), "a written state file reads back");
    fuzz::require(*reread == *store, "a written state file reads back as the same store");
    auto const reread_laid_out = corvellactl::parse_laid_out_store(written_input.data(), written_input.size());
    fuzz::require(reread_laid_out && *reread_laid_out == *store, "a written state file reads with both cores");
    auto const reread_streamed
        = corvellactl::parse_laid_out_store(written_input.data(), written_input.size(), use, buffer_for(size));
    fuzz::require(reread_streamed && *reread_streamed == kept(*store, use),
                  "a written state file reads through any buffer, keeping what is asked");
    std::string rewritten;
    corvellactl::write_store(*reread, rewritten);
    fuzz::require(rewritten == written, "a state file read back is written again byte for byte");

    for (auto const& certificate : store->certificates) {
        auto const bytes = corvella::signing_input(certificate.payload);
        fuzz::require(bytes.has_value(), "a stored certificate's payload has canonical bytes");
        fuzz::require_one_canonical_form(certificate.payload, *bytes);
    }
    return 0;
}

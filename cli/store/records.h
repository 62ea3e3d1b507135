#pragma once

// The store as the commands that change learner records work on it: find a
// record by its identifier, count an assignment's attempts, add and replace
// records. Lookups find the first record with the identifier, as a scan of
// the list in stored order does; a command that looks up many records (a
// batch) turns on the index, which finds the same records in constant time.

#include "store/state.h"

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>
#include <unordered_map>

namespace corvellactl {

class Records {
public:
    explicit Records(Store& store) : m_store(store) { }

    // From now on lookups go through an index, built on first use per list
    // and kept up to date by the changes below.
    void use_index() { m_indexed = true; }

    Store& store() { return m_store; }

    // The first record with the identifier; NotFound as find(store, id). The
    // pointer is good until the next change to the store.
    template<typename Id>
    [[nodiscard]] auto find(Id const& id) -> CommandResult<decltype(&(std::declval<Store&>().*Lookup<Id>::list)[0])>
    {
        if (!m_indexed)
            return corvellactl::find(m_store, id);
        auto& positions = index_of<Id>();
        auto const found = positions.find(id);
        if (found == positions.end())
            return quenmark::unexpected(CommandError::not_found(std::string(Lookup<Id>::name) + " " + id.to_string()));
        return &(m_store.*Lookup<Id>::list)[found->second];
    }

    // How many stored attempts belong to the assignment.
    std::uint64_t attempts_at(corvella::AssignmentId const& assignment);

    void add(corvella::TrainingAssignment assignment);
    void add(corvella::KnowledgeCheckAttempt attempt);
    void add(corvella::CompletionRecord record);
    void add(corvella::Certificate certificate);
    // Overwrites the first assignment with the same id, or appends it.
    void replace(corvella::TrainingAssignment assignment);

private:
    template<typename Id>
    struct Index {
        std::unordered_map<Id, std::size_t> positions;
        bool built { false };
    };

    template<typename Id>
    Index<Id>& index_for()
    {
        if constexpr (std::is_same_v<Id, corvella::AssessmentId>)
            return m_assessments;
        else if constexpr (std::is_same_v<Id, corvella::AssignmentId>)
            return m_assignments;
        else if constexpr (std::is_same_v<Id, corvella::CompletionRecordId>)
            return m_completions;
        else
            return m_certificates;
    }

    // The positions by identifier of the first record with each.
    template<typename Id>
    std::unordered_map<Id, std::size_t>& index_of()
    {
        auto& index = index_for<Id>();
        if (!index.built) {
            auto const& list = m_store.*Lookup<Id>::list;
            index.positions.reserve(list.size());
            for (std::size_t position = 0; position < list.size(); ++position)
                index.positions.try_emplace(Lookup<Id>::id_of(list[position]), position);
            index.built = true;
        }
        return index.positions;
    }

    // A record just appended at the end of its list.
    template<typename Id>
    void note_added(Id const& id)
    {
        auto& index = index_for<Id>();
        if (index.built)
            index.positions.try_emplace(id, (m_store.*Lookup<Id>::list).size() - 1);
    }

    Store& m_store;
    bool m_indexed { false };
    Index<corvella::AssessmentId> m_assessments;
    Index<corvella::AssignmentId> m_assignments;
    Index<corvella::CompletionRecordId> m_completions;
    Index<corvella::CertificationId> m_certificates;
    // Attempts per assignment, once counted.
    std::optional<std::unordered_map<corvella::AssignmentId, std::uint64_t>> m_attempt_counts;
};

} // namespace corvellactl

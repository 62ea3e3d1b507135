// The scale generator's data must be what the tool itself would have written:
// records that load, a chain that verifies, certificates that check, and ids
// in bench-ids.txt that name the records the benchmark commands need. The
// typed load of the nlohmann reference must give the same records.

#include "bench_support.h"

#include "store/chain_file.h"
#include "store/key_file.h"
#include "store/read.h"
#include "store/state.h"

#include "corvella/certificate.h"
#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/checkpoint.h"
#include "quenmark/integrity/merkle.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

using test_support::has_value;

// A fresh directory under the system's temporary folder, removed on exit.
class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvella-generate-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(TemporaryDirectory const&) = delete;
    TemporaryDirectory& operator=(TemporaryDirectory const&) = delete;
    std::string const& path() const { return m_path; }

private:
    std::string m_path;
};

int run(std::string const& command) { return std::system((command + " > /dev/null").c_str()); }

std::map<std::string, std::string> read_ids(std::string const& directory)
{
    std::map<std::string, std::string> ids;
    auto const text = corvella_bench::read_whole_file(directory + "/bench-ids.txt");
    std::size_t start = 0;
    while (text && start < text->size()) {
        std::size_t const end = std::min(text->find('\n', start), text->size());
        std::string const line = text->substr(start, end - start);
        std::size_t const blank = line.find(' ');
        if (blank != std::string::npos)
            ids[line.substr(0, blank)] = line.substr(blank + 1);
        start = end + 1;
    }
    return ids;
}

std::size_t count_status(corvellactl::Store const& store, corvella::AssignmentStatus status)
{
    return static_cast<std::size_t>(std::count_if(store.assignments.begin(), store.assignments.end(),
                                                  [status](auto const& assignment) { return assignment.status == status; }));
}

TEST(GeneratedDataSet, LoadsVerifiesAndNamesTheBenchmarkRecords)
{
    TemporaryDirectory directory;
    ASSERT_FALSE(directory.path().empty());
    ASSERT_EQ(run(std::string(CORVELLA_GENERATE) + " " + directory.path() + " 40 60"), 0);

    auto const store = corvellactl::load_store(directory.path() + "/corvella-state.json");
    ASSERT_TRUE(has_value(store));
    // Forty of each record; indices 9, 19 and 29 are in progress and add a
    // failed attempt each; the last assignment is always open.
    struct Count {
        char const* what;
        std::size_t actual;
        std::size_t expected;
    };
    for (auto const& row : {
             Count { "assessments", store->assessments.size(), 40 },
             Count { "assignments", store->assignments.size(), 40 },
             Count { "attempts", store->attempts.size(), 43 },
             Count { "completions", store->completions.size(), 40 },
             Count { "certificates", store->certificates.size(), 40 },
             Count { "completed", count_status(*store, corvella::AssignmentStatus::Completed), 28 },
             Count { "assigned", count_status(*store, corvella::AssignmentStatus::Assigned), 9 },
             Count { "in progress", count_status(*store, corvella::AssignmentStatus::InProgress), 3 },
         })
        EXPECT_EQ(row.actual, row.expected) << row.what;

    auto const key = corvellactl::load_key(directory.path() + "/corvella-signing-key.hex");
    ASSERT_TRUE(has_value(key));
    auto const verified = corvellactl::verify_chain_file(directory.path() + "/corvella-audit.json",
                                                         key->verifying_key(), { .leaves = 60 });
    ASSERT_TRUE(has_value(verified));
    EXPECT_EQ(verified->entries, 60U);
    // The checkpoint before the last hundredth of the events (none of 60).
    auto const note = corvellactl::read_text(directory.path() + "/bench-checkpoint.note");
    ASSERT_TRUE(has_value(note));
    auto const checkpoint = quenmark::open_checkpoint(*note, "corvellactl-audit/", key->verifying_key());
    ASSERT_TRUE(has_value(checkpoint));
    EXPECT_EQ(checkpoint->size, 60U);
    EXPECT_EQ(checkpoint->root, quenmark::tree_hash(verified->leaves));
    for (auto const& certificate : store->certificates)
        EXPECT_TRUE(has_value(corvella::check_certificate(certificate, key->verifying_key(),
                                                          certificate.payload.issued_at)));

    auto ids = read_ids(directory.path());
    auto const& open = store->assignments.back();
    EXPECT_EQ(ids["assignment_id"], open.id.to_string());
    EXPECT_EQ(open.status, corvella::AssignmentStatus::Assigned);
    EXPECT_EQ(ids["assessment_id"], store->assessments.back().id.to_string());
    EXPECT_EQ(open.assessment_id, store->assessments.back().id);
    EXPECT_EQ(store->assessments.back().status, corvella::AssessmentStatus::Published);
    std::string answers;
    for (auto const& question : store->assessments.back().questions) {
        if (!answers.empty())
            answers.push_back(',');
        answers.append(std::to_string(question.correct_index));
    }
    EXPECT_EQ(ids["passing_answers"], answers);
    EXPECT_EQ(ids["completion_id"], store->completions.back().id.to_string());
    auto const& last_certificate = store->certificates.back();
    EXPECT_EQ(ids["certificate_id"], last_certificate.payload.certificate_id.to_string());
    EXPECT_EQ(ids["principal_id"], open.principal_id.to_string());
    EXPECT_EQ(ids["checkpoint_size"], "60");
    EXPECT_TRUE(has_value(
        corvella::check_certificate(last_certificate, key->verifying_key(), quenmark::Timestamp::now())));

#ifdef REF_NLOHMANN_LOAD
    // The typical load the benchmark compares against reads the same records.
    EXPECT_EQ(run(std::string(REF_NLOHMANN_LOAD) + " " + directory.path() + "/corvella-state.json --check"), 0);
#endif
}

TEST(GeneratedDataSet, RefusesBadArguments)
{
    TemporaryDirectory directory;
    ASSERT_FALSE(directory.path().empty());
    for (char const* arguments : { "", " 10", " 0 10", " 10 x", " -5 10" })
        EXPECT_NE(run(std::string(CORVELLA_GENERATE) + " " + directory.path() + arguments + " 2>/dev/null"), 0)
            << arguments;
}

} // namespace

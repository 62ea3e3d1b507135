#pragma once

// The audit chain file: a JSON array of signed events, oldest first.

#include "context.h"
#include "store/read.h"
#include "store/replace.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <vector>

namespace corvellactl {

// The longer chain a command builds before it writes anything: the chain
// file is read by the first append, each append links, signs and numbers its
// event after the last entry in memory, and prepare() writes the whole
// longer chain beside the file, ready to be put in place with the command's
// other files. The text is that of writing the whole parsed list again, so
// members unknown to the event model are dropped. The command's directory
// lock keeps other writers out meanwhile, so the file still holds what was
// read when the new chain takes its place.
class ChainAppender {
public:
    explicit ChainAppender(std::string path);
    ChainAppender(ChainAppender&&) noexcept;
    ChainAppender& operator=(ChainAppender&&) noexcept;
    ~ChainAppender();

    // Errors: reading the chain, Io when it cannot be read or is not UTF-8 (a
    // path whose metadata cannot be read is an empty chain) and Json when it
    // is not an array of signed events; Message "could not hash last audit
    // event: ..." or "could not sign audit event: ..." with the platform
    // error's text. The existing chain is not verified. A failed append
    // leaves the chain as it was.
    [[nodiscard]] CommandResult<void> append(quenmark::SigningKey const& key, quenmark::AuditEvent event);
    // The same for each event in order, as one append: on failure none is.
    [[nodiscard]] CommandResult<void> append_all(quenmark::SigningKey const& key,
                                                 std::vector<quenmark::AuditEvent> events);
    // The longer chain written and flushed beside the file, not yet in place
    // (read first if nothing was appended). Io when it cannot be written.
    [[nodiscard]] CommandResult<FileReplacement> prepare();
    // prepare(), then the replacement of the file.
    [[nodiscard]] CommandResult<void> save();
    // Starts reading a big chain file on a thread of its own while the
    // command does other work; the first append or prepare() takes what it
    // read, with the errors a reading then would give. A small file, or one
    // whose metadata cannot be read, is read when it is needed, as without.
    void read_ahead();

private:
    struct Chain;
    struct ReadAhead;
    [[nodiscard]] static CommandResult<std::unique_ptr<Chain>> read_chain(std::string const& path);
    // Reads the chain unless it is read, or takes what was read ahead.
    [[nodiscard]] CommandResult<void> have_chain();
    std::string m_path;
    std::unique_ptr<Chain> m_chain;
    std::unique_ptr<ReadAhead> m_ahead;
};

// What is known of a chain file that verified: its number of entries, and
// what the query asked for (ChainCheck says when each is absent).
struct VerifiedChain {
    std::uint64_t entries { 0 };
    std::optional<quenmark::EntryMark> last;
    std::optional<quenmark::EntryMark> marked;
    std::vector<quenmark::MerkleHash> leaves;
    std::optional<quenmark::FoundEntry> found;
};

// Reads and verifies the whole chain in one pass (its entries after the
// trusted ones). A failed check is Message "audit chain verification
// failed: " + the platform error's text. A progress is told the events read.
[[nodiscard]] CommandResult<VerifiedChain> verify_chain_file(std::string const& path, quenmark::VerifyingKey const& key,
                                                             quenmark::ChainQuery const& query = {},
                                                             Progress* progress = nullptr);

// Reads the chain file entry by entry, oldest first, handing each to
// `visit`, without verifying the chain. A path whose metadata cannot be read
// is an empty chain; Io when the file cannot be read or is not UTF-8, Json
// when it is not an array of signed events.
[[nodiscard]] CommandResult<void> read_chain_entries(std::string const& path,
                                                     std::function<void(quenmark::SignedAuditEvent&&)> const& visit);

// The entries of the chain file that `keep` accepts, searched from
// construction on while the command does its other work. A big chain laid
// out as written is searched in pieces by two threads that take only the
// time the machine has no other use for; the thread that asks for the
// result searches the pieces left at its own priority. A small chain is
// read at once on a thread of its own. `keep` is called on several threads.
class ChainSearch {
public:
    ChainSearch(std::string path, std::function<bool(quenmark::SignedAuditEvent const&)> keep);
    ChainSearch(ChainSearch const&) = delete;
    ChainSearch& operator=(ChainSearch const&) = delete;
    ~ChainSearch();

    // The entries, oldest first, as read_chain_entries() reads them, with
    // its errors. Once only.
    [[nodiscard]] CommandResult<std::vector<quenmark::SignedAuditEvent>> result();

private:
    struct Shared;
    // Searches what is left here, then waits for the threads.
    void finish();
    std::unique_ptr<Shared> m_shared;
    std::thread m_first;
    std::thread m_second;
};

// The whole chain, read and verified; errors as read_chain_entries(), and
// Message "audit chain verification failed: " + the platform error's text.
[[nodiscard]] CommandResult<std::vector<quenmark::SignedAuditEvent>> load_verified_chain(std::string const& path,
                                                                                        quenmark::VerifyingKey const& key);

} // namespace corvellactl

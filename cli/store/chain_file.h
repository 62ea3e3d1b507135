#pragma once

// The audit chain file: a JSON array of signed events, oldest first.

#include "context.h"

#include "quenmark/audit_chain.h"
#include "quenmark/audit_event.h"
#include "quenmark/signing.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvellactl {

// Reads the chain. A path whose metadata cannot be read is an empty chain;
// an unreadable file or one that is not UTF-8 is Io; text that is not an
// array of signed events is Json.
[[nodiscard]] CommandResult<std::vector<quenmark::SignedAuditEvent>> load_chain(std::string const& path);

// Reads the chain, links the event to its last entry, signs and numbers it,
// and replaces the file with the longer chain, atomically. Errors: as
// load_chain; Message "could not hash last audit event: ..." or "could not
// sign audit event: ..." with the platform error's text; Io when the file
// cannot be written. The existing chain is not verified.
[[nodiscard]] CommandResult<void> append_event(std::string const& path, quenmark::SigningKey const& key,
                                              quenmark::AuditEvent event);

// Appends events to one chain file for the length of a command. Each append
// links, signs and numbers its event and replaces the file with the longer
// chain, atomically, before it returns, exactly as append_event does; but
// the chain is read only by the first append, and later ones add their entry
// to the file text already written instead of reading and writing every
// entry again. The command's directory lock keeps other writers out
// meanwhile, so the file still holds what the last append wrote. After a
// failed append the next one starts from the file again.
class ChainAppender {
public:
    explicit ChainAppender(std::string path);
    ChainAppender(ChainAppender&&) noexcept;
    ChainAppender& operator=(ChainAppender&&) noexcept;
    ~ChainAppender();

    // Errors: those of append_event.
    [[nodiscard]] CommandResult<void> append(quenmark::SigningKey const& key, quenmark::AuditEvent event);

private:
    struct Chain;
    [[nodiscard]] static CommandResult<std::unique_ptr<Chain>> read_chain(std::string const& path);
    [[nodiscard]] CommandResult<void> append_to_chain(quenmark::SigningKey const& key, quenmark::AuditEvent event);
    std::string m_path;
    std::unique_ptr<Chain> m_chain;
};

// Reads and verifies the whole chain and returns its number of entries.
// A failed check is Message "audit chain verification failed: " + the
// platform error's text.
[[nodiscard]] CommandResult<std::uint64_t> verify_chain_file(std::string const& path,
                                                             quenmark::VerifyingKey const& key);

// What a checkpoint needs of a chain file that verified: its number of
// entries, its last entry (absent when empty) and the entry at the
// zero-based position asked for (absent when not asked or beyond the end).
struct VerifiedChain {
    std::uint64_t entries { 0 };
    std::optional<quenmark::EntryMark> last;
    std::optional<quenmark::EntryMark> marked;
};

// Reads and verifies the whole chain as verify_chain_file does, with the
// same errors, in the same single pass.
[[nodiscard]] CommandResult<VerifiedChain>
verify_chain_file_marking(std::string const& path, quenmark::VerifyingKey const& key,
                          std::optional<std::size_t> marked_position = std::nullopt);

} // namespace corvellactl

#pragma once

// The audit chain file: a JSON array of signed events, oldest first.

#include "context.h"

#include "quenmark/audit_event.h"
#include "quenmark/signing.h"

#include <cstdint>
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

// Reads and verifies the whole chain and returns its number of entries.
// A failed check is Message "audit chain verification failed: " + the
// platform error's text.
[[nodiscard]] CommandResult<std::uint64_t> verify_chain_file(std::string const& path,
                                                             quenmark::VerifyingKey const& key);

} // namespace corvellactl

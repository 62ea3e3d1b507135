#pragma once

// The plain reading and appending of a chain file that the tests hold the
// program's appender and its files to: the whole file parsed into a list,
// and one event appended and saved at a time.

#include "store/chain_file.h"

#include "quenmark/integrity/audit_chain.h"
#include "quenmark/integrity/audit_event.h"
#include "quenmark/integrity/signing.h"

#include <string>
#include <utility>
#include <vector>

namespace test_support {

// Reads the chain. A path whose metadata cannot be read is an empty chain;
// an unreadable file or one that is not UTF-8 is Io; text that is not an
// array of signed events is Json.
inline corvellactl::CommandResult<std::vector<quenmark::SignedAuditEvent>> load_chain(std::string const& path)
{
    if (!corvellactl::path_exists(path))
        return std::vector<quenmark::SignedAuditEvent> {};
    auto const text = TRY(corvellactl::read_padded_text(path, /*padding=*/0));
    auto entries = quenmark::parse_chain(text.view());
    if (!entries)
        return quenmark::unexpected(corvellactl::CommandError::json(std::move(entries).error()));
    return std::move(*entries);
}

// Links the event to the chain's last entry, signs and numbers it, and
// replaces the file with the longer chain; errors as ChainAppender's.
inline corvellactl::CommandResult<void> append_event(std::string const& path, quenmark::SigningKey const& key,
                                                     quenmark::AuditEvent event)
{
    corvellactl::ChainAppender appender(path);
    TRY(appender.append(key, std::move(event)));
    return appender.save();
}

} // namespace test_support

#pragma once

// The chain file's text for a list of entries, as the command layer writes
// it: the pretty form of the JSON array of signed events, no final line feed.

#include "quenmark/integrity/audit_event.h"
#include "quenmark/json/value.h"

#include <span>
#include <string>

namespace test_support {

inline void write_chain(std::span<quenmark::SignedAuditEvent const> entries, std::string& out)
{
    quenmark::json::PrettyWriter writer(out);
    writer.begin_array();
    for (quenmark::SignedAuditEvent const& entry : entries)
        quenmark::write_json(writer, entry);
    writer.end_array();
}

} // namespace test_support

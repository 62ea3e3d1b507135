#include "store/chain_file.h"

#include "store/files.h"

#include "quenmark/audit_chain.h"

#include <utility>

namespace corvellactl {

CommandResult<std::vector<quenmark::SignedAuditEvent>> load_chain(std::string const& path)
{
    if (!path_exists(path))
        return std::vector<quenmark::SignedAuditEvent> {};
    auto const text = TRY(read_padded_text(path, /*padding=*/0));
    auto entries = quenmark::parse_chain(text.view());
    if (!entries)
        return quenmark::unexpected(CommandError::json(std::move(entries).error()));
    return std::move(*entries);
}

CommandResult<void> append_event(std::string const& path, quenmark::SigningKey const& key, quenmark::AuditEvent event)
{
    auto entries = TRY(load_chain(path));
    auto const head = quenmark::derive_head(entries);
    if (!head)
        return quenmark::unexpected(CommandError::message("could not hash last audit event: " + head.error().text()));
    auto entry = quenmark::link_event(*head, key, std::move(event));
    if (!entry)
        return quenmark::unexpected(CommandError::message("could not sign audit event: " + entry.error().text()));
    entries.push_back(std::move(*entry));

    std::string text;
    quenmark::write_chain(entries, text);
    return replace_file(path, text);
}

CommandResult<std::uint64_t> verify_chain_file(std::string const& path, quenmark::VerifyingKey const& key)
{
    auto const entries = TRY(load_chain(path));
    auto const verified = quenmark::verify_chain(entries, key);
    if (!verified)
        return quenmark::unexpected(
            CommandError::message("audit chain verification failed: " + verified.error().text()));
    return static_cast<std::uint64_t>(entries.size());
}

} // namespace corvellactl

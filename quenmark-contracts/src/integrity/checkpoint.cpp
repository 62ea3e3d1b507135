#include "quenmark/integrity/checkpoint.h"

#include "quenmark/integrity/content_hash.h"
#include "quenmark/text/encoding.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <charconv>

namespace quenmark {

namespace {

constexpr std::string_view signature_mark = "\u2014 "; // em dash and one blank
constexpr std::uint8_t ed25519_signature_type = 0x01;

std::string body_of(Checkpoint const& checkpoint)
{
    return checkpoint.origin + "\n" + std::to_string(checkpoint.size) + "\n" + base64_encode(checkpoint.root) + "\n";
}

// The signed-note key id: the first four bytes of SHA-256 of the name, a line
// feed, the Ed25519 signature type 0x01 and the public key.
std::array<std::uint8_t, 4> note_key_id(std::string_view name, VerifyingKey const& key)
{
    std::string input(name);
    input.push_back('\n');
    input.push_back(static_cast<char>(ed25519_signature_type));
    input.append(reinterpret_cast<char const*>(key.bytes.data()), key.bytes.size());
    auto const digest = sha256(input);
    return { digest[0], digest[1], digest[2], digest[3] };
}

} // namespace

std::string checkpoint_origin(std::string_view origin_prefix, VerifyingKey const& key)
{
    // The key id depends on the name, so the origin's own id is taken over the
    // prefix alone.
    std::string origin(origin_prefix);
    auto const id = note_key_id(origin_prefix, key);
    append_hex(origin, id);
    return origin;
}

std::string sign_checkpoint(Checkpoint const& checkpoint, SigningKey const& key)
{
    std::string const body = body_of(checkpoint);
    Signature const signature = key.sign(body);
    auto const id = note_key_id(checkpoint.origin, key.verifying_key());
    std::vector<std::uint8_t> blob(id.begin(), id.end());
    blob.insert(blob.end(), signature.bytes.begin(), signature.bytes.end());
    return body + "\n" + std::string(signature_mark) + checkpoint.origin + " " + base64_encode(blob) + "\n";
}

Expected<Checkpoint, std::string> open_note(std::string_view note, std::string_view origin_prefix,
                                            VerifyingKey const& key, std::string_view key_name)
{
    auto const fail = [](std::string why) { return unexpected(std::move(why)); };
    auto const split = note.find("\n\n");
    if (split == std::string_view::npos)
        return fail("is not a signed note: no blank line after its text");
    std::string_view const body = note.substr(0, split + 1);
    std::string_view rest = body;
    std::string_view origin;
    std::string_view size_line;
    std::string_view hash_line;
    if (!next_line(rest, origin) || !next_line(rest, size_line) || !next_line(rest, hash_line) || !rest.empty())
        return fail("text must be three lines: origin, number of entries, hash");

    Checkpoint checkpoint;
    checkpoint.origin = std::string(origin);
    std::string const expected_origin = checkpoint_origin(origin_prefix, key);
    if (origin != expected_origin)
        return fail("origin " + quoted(origin) + " is not this key's (" + expected_origin + ")");
    auto const [end, error] = std::from_chars(size_line.data(), size_line.data() + size_line.size(), checkpoint.size);
    if (error != std::errc {} || end != size_line.data() + size_line.size() || size_line.empty()
        || (size_line.size() > 1 && size_line.front() == '0'))
        return fail("size " + quoted(size_line) + " is not a decimal number");
    auto const root = base64_decode(hash_line);
    if (!root || root->size() != checkpoint.root.size())
        return fail("hash " + quoted(hash_line) + " is not 32 bytes in base64");
    std::copy(root->begin(), root->end(), checkpoint.root.begin());

    // Signature lines: one or more, each ending in a line feed; the one under
    // the origin's name and this key's id must verify.
    auto const id = note_key_id(checkpoint.origin, key);
    std::string_view signatures = note.substr(split + 2);
    if (signatures.empty() || !signatures.ends_with('\n'))
        return fail("is not a signed note: its signature lines must end with a line feed");
    bool verified = false;
    std::string_view line;
    while (next_line(signatures, line)) {
        if (!line.starts_with(signature_mark))
            return fail("is not a signed note: a signature line does not start with an em dash");
        line.remove_prefix(signature_mark.size());
        auto const blank = line.rfind(' ');
        if (blank == std::string_view::npos || line.substr(0, blank) != checkpoint.origin)
            continue;
        auto const blob = base64_decode(line.substr(blank + 1));
        if (!blob || blob->size() != id.size() + signature_size || !std::equal(id.begin(), id.end(), blob->begin()))
            continue;
        Signature signature;
        std::copy(blob->begin() + static_cast<std::ptrdiff_t>(id.size()), blob->end(), signature.bytes.begin());
        if (!verify_bytes(key, body, signature))
            return fail("signature does not verify under " + std::string(key_name));
        verified = true;
    }
    if (!verified)
        return fail("carries no signature by " + std::string(key_name));
    return checkpoint;
}

Expected<Checkpoint, ContractError> open_checkpoint(std::string_view note, std::string_view origin_prefix,
                                                    VerifyingKey const& key)
{
    auto opened = open_note(note, origin_prefix, key, "the local key");
    if (!opened)
        return unexpected(ContractError::validation_failed("checkpoint " + std::move(opened).error()));
    return std::move(*opened);
}

Expected<void, ContractError> check_checkpoint(std::uint64_t chain_size, std::optional<MerkleHash> const& root_at_size,
                                               std::optional<EntryMark> const& entry_at_size,
                                               Checkpoint const& checkpoint)
{
    if (chain_size < checkpoint.size) {
        return unexpected(ContractError::validation_failed("audit chain truncated or rolled back: it holds "
            + std::to_string(chain_size) + " event(s), the checkpoint proves " + std::to_string(checkpoint.size)));
    }
    if (!root_at_size)
        fail_internal("check_checkpoint was not given the tree hash at the checkpoint's size");
    if (*root_at_size == checkpoint.root)
        return {};
    // The earlier form's hash line held the last entry's content hash, or
    // zeros for an empty chain, where the tree hash stands now.
    bool const earlier_form = checkpoint.size == 0 ? checkpoint.root == MerkleHash {}
                                                   : entry_at_size && entry_at_size->hash.digest == checkpoint.root;
    if (earlier_form) {
        return unexpected(ContractError::validation_failed(
            "checkpoint is of an earlier form, whose hash line is the last event's hash rather than the Merkle tree "
            "hash of all its events; write a new one with `audit checkpoint`"));
    }
    if (!entry_at_size) // a note of no entries that this system did not write
        return unexpected(ContractError::validation_failed("checkpoint of no events has a hash other than the empty tree's"));
    return unexpected(ContractError::validation_failed("audit chain forked: the event at sequence "
        + std::to_string(entry_at_size->sequence) + " is not the one the checkpoint proves"));
}

} // namespace quenmark

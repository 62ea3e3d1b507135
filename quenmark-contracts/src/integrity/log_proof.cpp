#include "quenmark/integrity/log_proof.h"

#include "quenmark/text/encoding.h"
#include "quenmark/text/text.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace quenmark {

namespace {

constexpr std::string_view extra_label = "extra ";
constexpr std::string_view index_label = "index ";
constexpr std::string_view given_key = "the given key";
constexpr std::string_view signature_mark = "\u2014 "; // em dash and one blank, as notes sign

std::string malformed(std::string_view form, std::string_view what)
{
    return "its text is not in the " + std::string(form) + " form: " + std::string(what);
}

// Decimal digits without a leading zero (but "0"), within 64 bits.
std::optional<std::uint64_t> parse_decimal(std::string_view text)
{
    std::uint64_t value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc {} || end != text.data() + text.size() || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    return value;
}

// Reads hash lines up to and including the empty line after them.
Expected<std::vector<MerkleHash>, std::string> read_hashes(std::string_view& text, std::string_view form)
{
    std::vector<MerkleHash> hashes;
    std::string_view line;
    while (next_line(text, line)) {
        if (line.empty())
            return hashes;
        auto const bytes = base64_decode(line);
        if (!bytes || bytes->size() != merkle_hash_size)
            return unexpected(malformed(form, "line " + quoted(line) + " is not a hash in base64"));
        MerkleHash& hash = hashes.emplace_back();
        std::copy(bytes->begin(), bytes->end(), hash.begin());
    }
    return unexpected(malformed(form, "no empty line before its checkpoint"));
}

void append_hashes(std::string& out, std::span<MerkleHash const> hashes)
{
    for (MerkleHash const& hash : hashes)
        out.append(base64_encode(hash)).push_back('\n');
}

} // namespace

std::string format_inclusion_proof(InclusionProof const& proof)
{
    std::string text(inclusion_proof_header);
    text.append("\n").append(extra_label);
    text.append(base64_encode(std::span(reinterpret_cast<std::uint8_t const*>(proof.leaf.data()), proof.leaf.size())));
    text.append("\n").append(index_label);
    append_decimal(text, proof.index);
    text.push_back('\n');
    append_hashes(text, proof.path);
    text.push_back('\n');
    return text + proof.checkpoint;
}

std::string format_consistency_proof(ConsistencyProof const& proof)
{
    std::string text(consistency_proof_header);
    text.push_back('\n');
    append_hashes(text, proof.proof);
    text.push_back('\n');
    return text + proof.old_checkpoint + "\n" + proof.checkpoint;
}

Expected<InclusionProof, std::string> parse_inclusion_proof(std::string_view text)
{
    constexpr std::string_view form = "tlog-proof";
    std::string_view line;
    if (!next_line(text, line) || line != inclusion_proof_header)
        return unexpected(malformed(form, "its first line is not " + std::string(inclusion_proof_header)));
    InclusionProof proof;
    if (!next_line(text, line) || !line.starts_with(extra_label))
        return unexpected(malformed(form, "it has no extra line, which carries the entry"));
    auto const leaf = base64_decode(line.substr(extra_label.size()));
    if (!leaf)
        return unexpected(malformed(form, "its extra line is not base64"));
    proof.leaf.assign(leaf->begin(), leaf->end());
    std::optional<std::uint64_t> index;
    if (next_line(text, line) && line.starts_with(index_label))
        index = parse_decimal(line.substr(index_label.size()));
    if (!index)
        return unexpected(malformed(form, "its index line is missing or not a decimal number"));
    proof.index = *index;
    proof.path = TRY(read_hashes(text, form));
    proof.checkpoint = std::string(text);
    return proof;
}

Expected<ConsistencyProof, std::string> parse_consistency_proof(std::string_view text)
{
    constexpr std::string_view form = "tlog-consistency-proof";
    std::string_view line;
    if (!next_line(text, line) || line != consistency_proof_header)
        return unexpected(malformed(form, "its first line is not " + std::string(consistency_proof_header)));
    ConsistencyProof proof;
    proof.proof = TRY(read_hashes(text, form));
    // The older note ends with the last of the signature lines that follow
    // its text; an empty line then separates it from the newer one.
    auto const signatures = text.find("\n\n");
    std::optional<std::size_t> end;
    if (signatures != std::string_view::npos) {
        std::string_view rest = text.substr(signatures + 2);
        while (rest.starts_with(signature_mark) && next_line(rest, line)) {
        }
        if (rest.starts_with('\n'))
            end = text.size() - rest.size();
    }
    if (!end)
        return unexpected(malformed(form, "it does not hold two checkpoints separated by an empty line"));
    proof.old_checkpoint = std::string(text.substr(0, *end));
    proof.checkpoint = std::string(text.substr(*end + 1));
    return proof;
}

Expected<Checkpoint, std::string> check_inclusion_proof(InclusionProof const& proof, std::string_view origin_prefix,
                                                        VerifyingKey const& key)
{
    auto checkpoint = open_note(proof.checkpoint, origin_prefix, key, given_key);
    if (!checkpoint)
        return unexpected("its checkpoint " + checkpoint.error());
    if (proof.index >= checkpoint->size) {
        return unexpected("its index " + decimal(proof.index) + " is not below its checkpoint's size "
                          + decimal(checkpoint->size));
    }
    if (!verify_inclusion(leaf_hash(proof.leaf), proof.index, checkpoint->size, proof.path, checkpoint->root))
        return unexpected(std::string("its audit path does not lead from its entry to its checkpoint's root"));
    return std::move(*checkpoint);
}

Expected<CheckpointPair, std::string> check_consistency_proof(ConsistencyProof const& proof,
                                                              std::string_view origin_prefix, VerifyingKey const& key)
{
    auto old_checkpoint = open_note(proof.old_checkpoint, origin_prefix, key, given_key);
    if (!old_checkpoint)
        return unexpected("its older checkpoint " + old_checkpoint.error());
    auto checkpoint = open_note(proof.checkpoint, origin_prefix, key, given_key);
    if (!checkpoint)
        return unexpected("its newer checkpoint " + checkpoint.error());
    if (old_checkpoint->size > checkpoint->size) {
        return unexpected("its older checkpoint's size " + decimal(old_checkpoint->size)
                          + " exceeds its newer checkpoint's size " + decimal(checkpoint->size));
    }
    if (!verify_consistency(old_checkpoint->size, old_checkpoint->root, checkpoint->size, checkpoint->root,
                            proof.proof))
        return unexpected(std::string("its hashes do not show that its newer checkpoint's tree begins with its "
                                      "older checkpoint's"));
    return CheckpointPair { std::move(*old_checkpoint), std::move(*checkpoint) };
}

} // namespace quenmark

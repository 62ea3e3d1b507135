#include "store/key_file.h"

#include "store/lock.h"
#include "store/read.h"
#include "store/replace.h"

#include "quenmark/integrity/signing.h"

#include <string>
#include <utility>

namespace corvellactl {
namespace {

constexpr mode_t owner_only = 0600;

// A key is 64 digits; the rest can only be white space around them.
constexpr SizeCap key_cap { 4096, "a signing key file" };

} // namespace

CommandResult<quenmark::SigningKey> load_key(std::string const& path)
{
    auto text = TRY(read_padded_text(path, /*padding=*/0, /*progress=*/nullptr, key_cap));
    auto key = quenmark::SigningKey::from_hex(text.view());
    text.wipe();
    if (!key)
        return quenmark::unexpected(CommandError::message("signing key file " + path + " is not valid hex"));
    return std::move(*key);
}

CommandResult<quenmark::SigningKey> load_or_create_key(std::string const& path)
{
    if (path_exists(path))
        return load_key(path);

    auto key = quenmark::SigningKey::generate();
    auto const seed = key.seed_text();
    auto const outcome = TRY(create_file_exclusively(path, seed.text(), owner_only));
    if (outcome == CreateOutcome::AlreadyExists)
        return load_key(path);
    return key;
}

CommandResult<quenmark::SigningKey> load_or_create_key_locking(std::string const& path)
{
    if (path_exists(path))
        return load_key(path);
    auto const lock = TRY(DirectoryLock::acquire({ path }));
    return load_or_create_key(path);
}

} // namespace corvellactl

#pragma once

// The signing key file: 64 hexadecimal digits of an Ed25519 seed.

#include "context.h"

#include "quenmark/integrity/signing.h"

#include <string>

namespace corvellactl {

// Reads the key file when it exists and never overwrites it. Otherwise makes
// a fresh key and creates the file, readable by its owner only; if another
// process created the file meanwhile, that file's key is used instead.
// Errors: Io when the file cannot be read or created; Message "signing key
// file <path> is not valid hex" when its trimmed text is not 64 hex digits.
[[nodiscard]] CommandResult<quenmark::SigningKey> load_or_create_key(std::string const& path);

// load_or_create_key() for a command that holds no lock: when the key must
// be created, the lock on the key file's directory is taken first, as every
// run that writes there takes it.
[[nodiscard]] CommandResult<quenmark::SigningKey> load_or_create_key_locking(std::string const& path);

// Reads an existing key file (errors as above).
[[nodiscard]] CommandResult<quenmark::SigningKey> load_key(std::string const& path);

} // namespace corvellactl

#include "store/key_file.h"

#include "store/files.h"

#include "quenmark/signing.h"

#include <string>
#include <utility>

namespace corvellactl {
namespace {

constexpr mode_t owner_only = 0600;

// Zeroes a secret text when it goes out of scope.
class WipedText {
public:
    explicit WipedText(std::string text) : m_text(std::move(text)) { }
    WipedText(WipedText const&) = delete;
    WipedText& operator=(WipedText const&) = delete;
    ~WipedText() { quenmark::zero_secret(m_text); }
    std::string const& text() const { return m_text; }

private:
    std::string m_text;
};

} // namespace

CommandResult<quenmark::SigningKey> load_key(std::string const& path)
{
    WipedText const text(TRY(read_text(path)));
    auto key = quenmark::SigningKey::from_hex(text.text());
    if (!key)
        return quenmark::unexpected(CommandError::message("signing key file " + path + " is not valid hex"));
    return std::move(*key);
}

CommandResult<quenmark::SigningKey> load_or_create_key(std::string const& path)
{
    if (path_exists(path))
        return load_key(path);

    auto key = quenmark::SigningKey::generate();
    WipedText const seed(key.seed_hex());
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

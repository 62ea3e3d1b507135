#include "command.h"
#include "commands/training_event.h"
#include "output.h"
#include "progress.h"
#include "store/lock.h"
#include "store/read.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/credential.h"
#include "corvella/ids/ids.h"
#include "corvella/reconcile.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/text.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace corvellactl {
namespace {

// The credential's id as its result lines show it: as it stands when it is
// printable text, otherwise in quoted form, so that a foreign id can never
// break the line it is printed in.
std::string shown_id(std::string const& id)
{
    std::string quoted = quenmark::quoted(id);
    if (!id.empty() && quoted.size() == id.size() + 2)
        return id;
    return quoted;
}

// A credential describes one certificate in a few kilobytes.
constexpr SizeCap credential_cap { std::size_t { 1 } << 20U, "a credential" };

class CredentialExport final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("--certificate-id", m_certificate_id, { .value_name = "CERTIFICATE_ID", .required = true });
        declaration.text("--output", m_output,
                         { .value_name = "FILE",
                           .help = "Write the credential to FILE (replaced atomically) instead of standard output; "
                                   "- is standard output" });
    }
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_certificate_id;
    // Where the credential goes; standard output when absent.
    std::optional<std::string> m_output;
};

class CredentialVerify final : public Command {
public:
    void declare(Declaration& declaration) override
    {
        declaration.text("FILE", m_file,
                         { .value_name = "FILE", .help = "The credential, as `credential export` wrote it", .required = true });
        declaration.text("--at", m_at, { .value_name = "AT", .help = "RFC 3339 instant to check as of. Defaults to now" });
    }
    // Reads the credential file and nothing else.
    CommandResult<void> run(CommandContext const& context) override;

private:
    std::string m_file;
    std::optional<std::string> m_at;
};

CommandResult<void> CredentialExport::run(CommandContext const& context)
{
    auto const output = TRY(output_file(context, m_output));
    // Nothing but the key may be written to the data files, but the state is
    // read under the same lock so no half-finished command is seen.
    auto const lock = TRY(lock_data_files(context, output));
    // The chain is searched while the state is read. Of the state only the
    // certificate is kept, and the assessments for the credential's words.
    std::optional<RevocationSearch> search;
    StoreUse use { .questions = false, .assignments = false, .attempts = false, .completions = false };
    if (auto const id = corvella::CertificationId::parse(m_certificate_id)) {
        search.emplace(context.audit_path, *id);
        use.certificate = *id;
    }
    auto const store = TRY(load_store_with_progress(context.state_path, use));
    auto const certificate_id = TRY(corvella::CertificationId::parse(m_certificate_id));
    auto const* certificate = TRY(find(store, certificate_id));
    auto const* assessment = TRY(find(store, certificate->payload.assessment_id));
    auto const key = TRY(load_or_create_key(context.key_path));
    auto const refused = [&](corvella::TrainingError const& error) {
        return quenmark::unexpected(
            CommandError::message(concat("certificate ", certificate_id, " cannot be exported: ", error.text())));
    };
    // The signed chain outranks a state file that lost a revocation.
    auto const revoked_in_chain = TRY(search->revoked_at(key.verifying_key()));
    if (auto const held = corvella::check_revocation_stored(*certificate, revoked_in_chain); !held)
        return refused(held.error());

    auto const credential = corvella::certificate_credential(*certificate, *assessment, key, quenmark::Timestamp::now());
    if (!credential)
        return refused(credential.error());
    quenmark::json::Value const document(*credential);
    Results results(context.format);
    if (!output && results.json()) {
        // One line: the credential in its RFC 8785 form.
        auto const compact = TRY(quenmark::json::jcs_bytes(document));
        results.add({}, "credential", [&](JsonObject& object) {
            object.text("certificate_id", certificate_id).raw("credential", compact);
        });
        return print(results);
    }
    std::string text;
    quenmark::json::PrettyWriter writer(text);
    TRY(quenmark::json::write_tree(writer, document));
    text.push_back('\n');
    if (!output)
        return print(text);
    TRY(write_output(*output, text));
    auto const& payload = certificate->payload;
    std::string const issuer = quenmark::did_key(key.verifying_key());
    results.add(concat("wrote credential urn:uuid:", certificate_id, " to ", *output, " \u2014 issuer ", issuer,
                       ", valid from ", payload.issued_at, " until ", payload.expires_at, '\n'),
                "credential_file", [&](JsonObject& object) {
                    object.text("path", *output)
                        .text("certificate_id", certificate_id)
                        .text("issuer", issuer)
                        .text("valid_from", payload.issued_at)
                        .text("valid_until", payload.expires_at);
                });
    return print_after_commit(results, *output + " was written");
}

CommandResult<void> CredentialVerify::run(CommandContext const& context)
{
    auto const as_of = m_at ? TRY(quenmark::Timestamp::parse(*m_at)) : quenmark::Timestamp::now();
    auto const text = TRY(read_text(m_file, credential_cap));
    auto const document = quenmark::json::parse_value(text);
    if (!document)
        return quenmark::unexpected(CommandError::json(document.error()));
    auto const id = corvella::credential_id(*document);
    if (!id)
        return quenmark::unexpected(CommandError::message(concat(m_file, " is not a verifiable credential: ", id.error())));
    std::string const shown = shown_id(*id);

    auto const checked = corvella::check_credential(std::get<quenmark::json::Object>(document->data), as_of);
    Results results(context.format);
    auto const verification = [&](JsonObject& object) {
        object.text("id", *id).text("as_of", as_of).boolean("valid", checked.has_value());
        if (checked)
            object.text("issuer", checked->issuer);
        else
            object.text("reason", checked.error().text());
    };
    if (checked) {
        results.add(concat("VALID \u2014 credential ", shown, " verifies as of ", as_of, ", issuer ", checked->issuer, '\n'),
                    "credential_verification", verification);
        return print(results);
    }
    std::string const reason = checked.error().text();
    // A credential whose proof holds but that is not one of this tool's is
    // not said to fail verification.
    if (checked.error().kind() == corvella::CredentialError::Kind::NoCertificate) {
        results.add(concat("INVALID \u2014 credential ", shown, ": ", reason, '\n'), "credential_verification",
                    verification);
        TRY(print(results));
        return quenmark::unexpected(
            CommandError::message(concat("credential ", shown, " carries no certificate issued by corvellactl")));
    }
    results.add(concat("INVALID \u2014 credential ", shown, " does not verify: ", reason, '\n'),
                "credential_verification", verification);
    TRY(print(results));
    return quenmark::unexpected(CommandError::message(concat("credential ", shown, " failed verification: ", reason)));
}

} // namespace

std::unique_ptr<Command> make_credential_export() { return std::make_unique<CredentialExport>(); }
std::unique_ptr<Command> make_credential_verify() { return std::make_unique<CredentialVerify>(); }

} // namespace corvellactl

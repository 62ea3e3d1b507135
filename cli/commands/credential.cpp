#include "commands/commands.h"

#include "output.h"
#include "store/files.h"
#include "store/key_file.h"
#include "store/state.h"

#include "corvella/credential.h"
#include "corvella/ids/ids.h"
#include "quenmark/integrity/signing.h"
#include "quenmark/json/read.h"
#include "quenmark/json/value.h"
#include "quenmark/text/text.h"

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

} // namespace

CommandResult<void> run_credential_export(CommandContext const& context, CredentialExportArgs const& args)
{
    if (args.output)
        TRY(refuse_data_file_as_output(context, *args.output));
    // Nothing but the key may be written to the data files, but the state is
    // read under the same lock so no half-finished command is seen.
    auto const lock = TRY(lock_data_files(context));
    auto const store = TRY(load_store(context.state_path));
    auto const certificate_id = TRY(corvella::CertificationId::parse(args.certificate_id));
    auto const* certificate = TRY(find(store, certificate_id));
    auto const* assessment = TRY(find(store, certificate->payload.assessment_id));
    auto const key = TRY(load_or_create_key(context.key_path));

    auto const credential = corvella::certificate_credential(*certificate, *assessment, key, quenmark::Timestamp::now());
    if (!credential) {
        return quenmark::unexpected(
            CommandError::message(concat("certificate ", certificate_id, " cannot be exported: ", credential.error().text())));
    }
    std::string text;
    quenmark::json::PrettyWriter writer(text);
    TRY(quenmark::json::write_tree(writer, quenmark::json::Value(*credential)));
    text.push_back('\n');
    if (!args.output)
        return print(text);
    TRY(replace_file(*args.output, text));
    auto const& payload = certificate->payload;
    return print(concat("wrote credential urn:uuid:", certificate_id, " to ", *args.output, " \u2014 issuer ",
                        quenmark::did_key(key.verifying_key()), ", valid from ", payload.issued_at, " until ",
                        payload.expires_at, '\n'));
}

CommandResult<void> run_credential_verify(CredentialVerifyArgs const& args)
{
    auto const as_of = args.at ? TRY(quenmark::Timestamp::parse(*args.at)) : quenmark::Timestamp::now();
    auto const text = TRY(read_text(args.file));
    auto const document = quenmark::json::parse_value(text);
    if (!document)
        return quenmark::unexpected(CommandError::json(document.error()));
    auto const id = corvella::credential_id(*document);
    if (!id)
        return quenmark::unexpected(CommandError::message(concat(args.file, " is not a verifiable credential: ", id.error())));
    std::string const shown = shown_id(*id);

    auto const checked = corvella::check_credential(std::get<quenmark::json::Object>(document->data), as_of);
    if (checked) {
        return print(
            concat("VALID \u2014 credential ", shown, " verifies as of ", as_of, ", issuer ", checked->issuer, '\n'));
    }
    std::string const reason = checked.error().text();
    TRY(print(concat("INVALID \u2014 credential ", shown, " does not verify: ", reason, '\n')));
    return quenmark::unexpected(CommandError::message(concat("credential ", shown, " failed verification: ", reason)));
}

} // namespace corvellactl

#!/usr/bin/env python3
"""An independent verifier of eddsa-jcs-2022 Data Integrity proofs.

Written from the W3C texts ("Data Integrity EdDSA Cryptosuites v1.0",
section 3.3, and RFC 8785) without the tool's code: its own JSON
canonicalisation (keys sorted by UTF-16 code units), its own base58btc, SHA-256
from hashlib and Ed25519 from PyNaCl (Debian package python3-nacl).

    verify_credential.py FILE...            verify each file's proof
    verify_credential.py --expect-fail FILE...
    verify_credential.py --self-test --binary CORVELLACTL --vectors DIR --questions FILE

The self-test drives the built tool from an empty directory to an exported
credential, checks it here, signs the same credential here and compares the
bytes, has the tool check a credential signed here, and checks the published
vectors and tampered copies of both. Exit status 0 when everything holds.
"""

import argparse
import copy
import hashlib
import json
import os
import subprocess
import sys
import tempfile

try:
    import nacl.exceptions
    import nacl.signing
except ImportError:
    sys.stderr.write("verify_credential.py: PyNaCl is missing (Debian package python3-nacl; "
                     "scripts/bootstrap.sh installs it)\n")
    sys.exit(2)

BASE58_ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
ED25519_MULTICODEC = b"\xed\x01"


class Invalid(Exception):
    pass


# --- base58btc ---------------------------------------------------------------

def base58_encode(data: bytes) -> str:
    zeros = len(data) - len(data.lstrip(b"\0"))
    number = int.from_bytes(data, "big")
    digits = ""
    while number:
        number, remainder = divmod(number, 58)
        digits = BASE58_ALPHABET[remainder] + digits
    return "1" * zeros + digits


def base58_decode(text: str) -> bytes:
    number = 0
    for character in text:
        position = BASE58_ALPHABET.find(character)
        if position < 0:
            raise Invalid("proofValue is not base58btc")
        number = number * 58 + position
    zeros = len(text) - len(text.lstrip("1"))
    body = number.to_bytes((number.bit_length() + 7) // 8, "big") if number else b""
    return b"\0" * zeros + body


# --- RFC 8785 ------------------------------------------------------------------

def jcs_string(text: str) -> str:
    out = ['"']
    for character in text:
        code = ord(character)
        if character == '"':
            out.append('\\"')
        elif character == "\\":
            out.append("\\\\")
        elif character == "\b":
            out.append("\\b")
        elif character == "\f":
            out.append("\\f")
        elif character == "\n":
            out.append("\\n")
        elif character == "\r":
            out.append("\\r")
        elif character == "\t":
            out.append("\\t")
        elif code < 0x20:
            out.append("\\u%04x" % code)
        else:
            out.append(character)
    out.append('"')
    return "".join(out)


def jcs(value) -> str:
    """The RFC 8785 text of a value. Only the numbers an ECMAScript writer
    gives back digit for digit are accepted: integers of magnitude below 2^53."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        if abs(value) >= 2 ** 53:
            raise Invalid("integer beyond 2^53 - 1")
        return str(value)
    if isinstance(value, float):
        raise Invalid("floating-point numbers are not handled here")
    if isinstance(value, str):
        return jcs_string(value)
    if isinstance(value, list):
        return "[" + ",".join(jcs(item) for item in value) + "]"
    if isinstance(value, dict):
        keys = sorted(value, key=lambda key: key.encode("utf-16-be"))
        return "{" + ",".join(jcs_string(key) + ":" + jcs(value[key]) for key in keys) + "}"
    raise Invalid("not a JSON value: %r" % (value,))


def load_json(text: str):
    def no_duplicates(pairs):
        result = {}
        for key, value in pairs:
            if key in result:
                raise Invalid("duplicate member %r" % key)
            result[key] = value
        return result

    return json.loads(text, object_pairs_hook=no_duplicates)


# --- eddsa-jcs-2022 ------------------------------------------------------------

def key_of_verification_method(method: str) -> bytes:
    """The public key of a did:key verification method: "did:key:" + multikey
    + "#" + the same multikey, the multikey being "z" + base58btc(0xed01 + key)."""
    if not isinstance(method, str) or not method.startswith("did:key:") or "#" not in method:
        raise Invalid("verificationMethod is not a did:key")
    did, fragment = method.split("#", 1)
    multikey = did[len("did:key:"):]
    if fragment != multikey or not multikey.startswith("z"):
        raise Invalid("verificationMethod fragment does not repeat the key")
    decoded = base58_decode(multikey[1:])
    if len(decoded) != 34 or decoded[:2] != ED25519_MULTICODEC:
        raise Invalid("verificationMethod is not an Ed25519 multikey")
    return decoded[2:]


def hash_data(proof_config: dict, document: dict) -> bytes:
    """Section 3.3.4: SHA-256 of the canonical proof configuration, then
    SHA-256 of the canonical document."""
    proof_hash = hashlib.sha256(jcs(proof_config).encode("utf-8")).digest()
    document_hash = hashlib.sha256(jcs(document).encode("utf-8")).digest()
    return proof_hash + document_hash


def proof_configuration(document: dict, options: dict) -> dict:
    """Section 3.3.5: the options, checked, with the document's @context."""
    if options.get("type") != "DataIntegrityProof" or options.get("cryptosuite") != "eddsa-jcs-2022":
        raise Invalid("proof is not a DataIntegrityProof of eddsa-jcs-2022")
    config = dict(options)
    if "@context" in document:
        config["@context"] = document["@context"]
    else:
        config.pop("@context", None)
    return config


def as_list(context):
    return context if isinstance(context, list) else [context]


def verify(secured: dict) -> bytes:
    """Section 3.3.2, verify proof. Returns the public key that signed."""
    if not isinstance(secured, dict) or not isinstance(secured.get("proof"), dict):
        raise Invalid("no single proof")
    document = {key: value for key, value in secured.items() if key != "proof"}
    options = {key: value for key, value in secured["proof"].items() if key != "proofValue"}
    proof_value = secured["proof"].get("proofValue")
    if not isinstance(proof_value, str) or not proof_value.startswith("z"):
        raise Invalid("proofValue is not base58btc multibase")
    signature = base58_decode(proof_value[1:])
    if len(signature) != 64:
        raise Invalid("proofValue is not 64 bytes")
    if options.get("proofPurpose") != "assertionMethod":
        raise Invalid("proofPurpose is not assertionMethod")
    if "@context" in options:
        wanted = as_list(options["@context"])
        present = as_list(document["@context"]) if "@context" in document else []
        if present[:len(wanted)] != wanted:
            raise Invalid("the document's @context does not start with the proof's")
        document["@context"] = options["@context"]
    config = proof_configuration(document, options)
    public_key = key_of_verification_method(options.get("verificationMethod"))
    try:
        nacl.signing.VerifyKey(public_key).verify(hash_data(config, document), signature)
    except nacl.exceptions.BadSignatureError:
        raise Invalid("signature does not verify")
    return public_key


def create_proof(document: dict, options: dict, seed: bytes) -> dict:
    """Section 3.3.1, create proof: the options with the document's @context,
    and the proofValue."""
    config = proof_configuration(document, options)
    signature = nacl.signing.SigningKey(seed).sign(hash_data(config, document)).signature
    proof = dict(config)
    proof["proofValue"] = "z" + base58_encode(signature)
    return proof


def verify_file(path: str) -> bytes:
    with open(path, encoding="utf-8") as handle:
        return verify(load_json(handle.read()))


# --- self-test -----------------------------------------------------------------

class SelfTest:
    def __init__(self, binary, directory):
        self.binary = binary
        self.directory = directory
        self.passed = 0
        self.failures = 0

    def check(self, condition, what):
        print(("ok      " if condition else "FAILED  ") + what)
        if condition:
            self.passed += 1
        else:
            self.failures += 1

    def run(self, *arguments, status=0):
        result = subprocess.run([self.binary, *arguments], cwd=self.directory, capture_output=True,
                                text=True, stdin=subprocess.DEVNULL)
        if result.returncode != status:
            raise SystemExit("corvellactl %s: status %d, expected %d\n%s%s" % (
                " ".join(arguments), result.returncode, status, result.stdout, result.stderr))
        return result

    def word_after(self, text, marker):
        return text.split(marker, 1)[1].split()[0]


def tampered_copies(value, path=()):
    """Every copy of the value with one string changed by one character, with
    the path of the change."""
    if isinstance(value, dict):
        for key in value:
            for altered, where in tampered_copies(value[key], path + (key,)):
                copy_of = dict(value)
                copy_of[key] = altered
                yield copy_of, where
    elif isinstance(value, list):
        for index, item in enumerate(value):
            for altered, where in tampered_copies(item, path + (index,)):
                copy_of = list(value)
                copy_of[index] = altered
                yield copy_of, where
    elif isinstance(value, str) and value:
        middle = len(value) // 2
        replacement = "x" if value[middle] != "x" else "y"
        yield value[:middle] + replacement + value[middle + 1:], path


# RFC 8785 section 3.2.3: keys in the order of their UTF-16 code units.
RFC_SORTING_INPUT = ('{"\\u20ac": "Euro Sign", "\\r": "Carriage Return", "\\ufb33": "Hebrew Letter Dalet With Dagesh", '
                     '"1": "One", "\\ud83d\\ude00": "Emoji: Grinning Face", "\\u0080": "Control", '
                     '"\\u00f6": "Latin Small Letter O With Diaeresis"}')
RFC_SORTING_VALUES = ["Carriage Return", "One", "Control", "Latin Small Letter O With Diaeresis", "Euro Sign",
                      "Emoji: Grinning Face", "Hebrew Letter Dalet With Dagesh"]


def self_test(binary, vectors, questions):
    with tempfile.TemporaryDirectory() as directory:
        test = SelfTest(binary, directory)
        sorted_values = [value for _, value in json.loads(jcs(load_json(RFC_SORTING_INPUT)),
                                                            object_pairs_hook=lambda pairs: pairs)]
        test.check(sorted_values == RFC_SORTING_VALUES, "the RFC 8785 sorting example, sorted here")
        test.check(jcs(load_json(open(os.path.join(vectors, "unsigned.json"), encoding="utf-8").read())) ==
                   open(os.path.join(vectors, "canonDocJCS.txt"), encoding="utf-8").read(),
                   "the published canonDocJCS.txt, written here")
        # From an empty directory to a certificate, through the tool's commands.
        # The title holds text outside ASCII and outside the BMP, and a quote.
        title = "Caf\u00e9 \u2713 \U0001F600 \"quoted\" \ufb33"
        created = test.run("assessment", "create", "--title", title, "--min-correct", "1",
                           "--questions", questions).stdout
        assessment = test.word_after(created, "created assessment ")
        test.run("assessment", "publish", assessment)
        assignment = test.word_after(test.run("assign", "--assessment-id", assessment).stdout,
                                     "created assignment ")
        with open(questions, encoding="utf-8") as handle:
            answers = ",".join(str(question["correct_index"]) for question in json.load(handle))
        completion = test.word_after(test.run("attempt", "--assignment-id", assignment,
                                              "--answers", answers).stdout, "completion recorded: ")
        certificate = test.word_after(test.run("certify", "--completion-id", completion).stdout,
                                      "issued certificate ")
        exported = test.run("credential", "export", "--certificate-id", certificate).stdout
        credential = load_json(exported)
        key_lines = test.run("key", "public").stdout.splitlines()

        # The credential verifies here, under the key the tool prints.
        public_key = verify(credential)
        test.check(public_key.hex() == key_lines[0], "the proof's key is the one `key public` prints")
        test.check("z" + base58_encode(ED25519_MULTICODEC + public_key) == key_lines[1],
                   "`key public` prints the multikey of that key")
        test.check("did:key:" + key_lines[1] == key_lines[2] == credential["issuer"]["id"],
                   "the issuer is that did:key")
        test.check(credential["@context"] == ["https://www.w3.org/ns/credentials/v2",
                                              "https://purl.imsglobal.org/spec/ob/v3p0/context-3.0.3.json",
                                              "https://www.w3.org/ns/credentials/undefined-terms/v2"]
                   and credential["type"] == ["VerifiableCredential", "OpenBadgeCredential"]
                   and credential["id"] == "urn:uuid:" + certificate
                   and credential["name"] == title,
                   "contexts, types, id and name of an Open Badges 3.0 credential")

        # The certificate it carries verifies under the same key: its payload
        # holds only ASCII, whose canonical form is its RFC 8785 form.
        carried = credential["evidence"][0]["certificate"]
        try:
            nacl.signing.VerifyKey(public_key).verify(jcs(carried["payload"]).encode("utf-8"),
                                                      bytes.fromhex(carried["signature"]))
            carried_ok = True
        except nacl.exceptions.BadSignatureError:
            carried_ok = False
        test.check(carried_ok and carried["payload"]["certificate_id"] == certificate,
                   "the certificate it carries verifies under the issuer's key")

        # Signing the same credential here, with the seed of the key file and
        # the same options, gives the tool's proof byte for byte.
        with open(os.path.join(directory, "corvella-signing-key.hex"), encoding="ascii") as handle:
            seed = bytes.fromhex(handle.read().strip())
        document = {key: value for key, value in credential.items() if key != "proof"}
        options = {key: value for key, value in credential["proof"].items()
                   if key not in ("proofValue", "@context")}
        resigned = dict(document)
        resigned["proof"] = create_proof(document, options, seed)
        test.check(resigned["proof"] == credential["proof"], "a proof made here equals the tool's")

        # The tool accepts a credential whose proof was made here, with a later
        # creation instant, and refuses one made here under another key.
        options["created"] = "2030-01-01T00:00:00Z"
        resigned["proof"] = create_proof(document, options, seed)
        with open(os.path.join(directory, "resigned.json"), "w", encoding="utf-8") as handle:
            json.dump(resigned, handle, ensure_ascii=False, indent=1)
        verdict = test.run("credential", "verify", "resigned.json").stdout
        test.check(verdict.startswith("VALID \u2014 credential urn:uuid:" + certificate + " verifies as of "),
                   "the tool accepts a proof made here")
        other_seed = bytes(range(32))
        other = nacl.signing.SigningKey(other_seed).verify_key.encode()
        other_multikey = "z" + base58_encode(ED25519_MULTICODEC + other)
        options["verificationMethod"] = "did:key:" + other_multikey + "#" + other_multikey
        forged = copy.deepcopy(document)
        forged["issuer"]["id"] = "did:key:" + other_multikey
        forged["proof"] = create_proof(forged, options, other_seed)
        test.check(verify(forged) == other, "a proof made here under another key verifies here")
        with open(os.path.join(directory, "forged.json"), "w", encoding="utf-8") as handle:
            json.dump(forged, handle)
        verdict = test.run("credential", "verify", "forged.json", status=1).stdout
        test.check(verdict == "INVALID \u2014 credential urn:uuid:" + certificate + " does not verify: the "
                   "certificate it carries does not verify under its issuer's key\n",
                   "the tool refuses a credential re-signed by another key")

        # The published vectors verify; every tampered copy of them and of the
        # exported credential fails.
        test.check(verify_file(os.path.join(vectors, "signedJCS.json")) ==
                   key_of_verification_method(load_json(open(os.path.join(vectors, "proofConfigJCS.json"),
                                                             encoding="utf-8").read())["verificationMethod"]),
                   "the published signedJCS.json verifies")
        with open(os.path.join(vectors, "signedJCS.json"), encoding="utf-8") as handle:
            published = load_json(handle.read())
        for name, secured in (("signedJCS.json", published), ("the exported credential", credential)):
            accepted = []
            count = 0
            for altered, where in tampered_copies(secured):
                count += 1
                try:
                    verify(altered)
                    accepted.append(where)
                except Invalid:
                    pass
            test.check(count > 10 and not accepted,
                       "each of %d one-character changes to %s fails%s" % (
                           count, name, "" if not accepted else ": accepted %r" % accepted))
        without_proof = {key: value for key, value in published.items() if key != "proof"}
        try:
            verify(without_proof)
            test.check(False, "a document without its proof fails")
        except Invalid:
            test.check(True, "a document without its proof fails")
        print("%d passed, %d failed" % (test.passed, test.failures))
        return 0 if test.failures == 0 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="*")
    parser.add_argument("--expect-fail", action="store_true", help="succeed only when every file fails")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("--binary")
    parser.add_argument("--vectors")
    parser.add_argument("--questions")
    arguments = parser.parse_args()
    if arguments.self_test:
        if not (arguments.binary and arguments.vectors and arguments.questions):
            parser.error("--self-test needs --binary, --vectors and --questions")
        return self_test(os.path.abspath(arguments.binary), os.path.abspath(arguments.vectors),
                         os.path.abspath(arguments.questions))
    if not arguments.files:
        parser.error("no file given")
    failures = 0
    for path in arguments.files:
        try:
            verify_file(path)
            print("OK %s" % path)
            failures += arguments.expect_fail
        except (Invalid, ValueError, KeyError, TypeError) as error:
            print("FAIL %s: %s" % (path, error))
            failures += not arguments.expect_fail
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

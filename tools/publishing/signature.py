"""The manifest's signature: ECDSA P-256 over SHA-256 of the manifest's exact
bytes, in DER (what `openssl dgst -sha256 -sign` writes), made and checked
with the openssl command; the keys are PEM files as openssl writes them."""
import os
import shutil
import subprocess
import tempfile

from . import PublishError, shown

# SubjectPublicKeyInfo of an uncompressed P-256 point: SEQUENCE { SEQUENCE {
# id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }.
P256_PUBLIC_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
MAKE_KEY = "openssl ecparam -name prime256v1 -genkey -noout -out KEY.pem"


def openssl(*args, data=None):
    """Runs openssl with args, data on its standard input; returns the
    completed process (never prompts: a pass phrase is never asked for)."""
    program = shutil.which("openssl")
    if program is None:
        raise PublishError("signing and checking a signature need the openssl command, and none is on the PATH")
    return subprocess.run([program, *args], input=data or b"", capture_output=True)


def read_key_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise PublishError("%s cannot be read: %s" % (shown(path), error.strerror)) from error


def public_key_of(path, private):
    """The public key (PEM bytes) of the P-256 key in path: a private key when
    private, else a public one; raises PublishError for any other file."""
    text = read_key_file(path)
    option = "--sign-key" if private else "--key"
    if private and b"-----BEGIN PUBLIC KEY-----" in text:
        raise PublishError("--sign-key %s is a public key: signing takes the private key (%s)"
                           % (shown(path), MAKE_KEY))
    if private and b"ENCRYPTED" in text:
        raise PublishError("--sign-key %s is protected by a pass phrase, which publish does not ask for: "
                           "keep the key unencrypted on a removable or encrypted disk" % shown(path))
    if not private and b"PRIVATE KEY-----" in text:
        raise PublishError("--key %s is a private key: the check takes the public key "
                           "(openssl ec -in KEY.pem -pubout -out PUBLIC.pem); keep the private key off this machine"
                           % shown(path))
    der = openssl("pkey", *([] if private else ["-pubin"]), "-in", path, "-passin", "pass:", "-pubout",
                  "-outform", "DER").stdout
    if len(der) != len(P256_PUBLIC_PREFIX) + 64 or not der.startswith(P256_PUBLIC_PREFIX):
        what = "private" if private else "public"
        raise PublishError("%s %s is not an EC P-256 (prime256v1) %s key%s" % (
            option, shown(path), what, " (make one with: %s)" % MAKE_KEY if private else
            " (openssl ec -in KEY.pem -pubout -out PUBLIC.pem writes one)"))
    return openssl("pkey", "-pubin", "-inform", "DER", "-pubout", data=der).stdout


def sign(data, key_path, public_key):
    """The DER signature of data with the private key at key_path, checked
    with its public_key (PEM bytes) before it is handed out."""
    made = openssl("dgst", "-sha256", "-sign", key_path, "-passin", "pass:", data=data)
    if made.returncode != 0 or not made.stdout or not verifies(data, made.stdout, public_key):
        raise PublishError("openssl could not sign the manifest with %s: %s"
                           % (shown(key_path), made.stderr.decode("utf-8", "replace").strip() or "no signature"))
    return made.stdout


def verifies(data, signature, public_key):
    """Whether signature (DER) is public_key's (PEM bytes) over data."""
    with tempfile.TemporaryDirectory(prefix="publish-") as folder:
        key_file, signature_file = os.path.join(folder, "key.pem"), os.path.join(folder, "manifest.sig")
        for path, content in ((key_file, public_key), (signature_file, signature)):
            with open(path, "wb") as f:
                f.write(content)
        return openssl("dgst", "-sha256", "-verify", key_file, "-signature", signature_file, data=data).returncode == 0

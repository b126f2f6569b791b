#!/usr/bin/env python3
"""Turns the site's public signing key into the 64 bytes the installer embeds.

Usage: site_key.py PUBLIC.pem OUT.bin

PUBLIC.pem is an EC P-256 public key as `openssl ec -in KEY.pem -pubout`
writes it. OUT.bin gets the point's X and Y, 32 big-endian bytes each. Any
other file is refused: a private key, another curve, a compressed point.
"""
import base64
import sys

# SubjectPublicKeyInfo of an uncompressed P-256 point: SEQUENCE { SEQUENCE {
# id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }.
P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")


def point_of(pem_text):
    lines = [line.strip() for line in pem_text.strip().splitlines()]
    if len(lines) < 3 or lines[0] != "-----BEGIN PUBLIC KEY-----" or lines[-1] != "-----END PUBLIC KEY-----":
        raise ValueError("not a PEM public key (-----BEGIN PUBLIC KEY-----); "
                         "make one with: openssl ec -in KEY.pem -pubout -out PUBLIC.pem")
    try:
        der = base64.b64decode("".join(lines[1:-1]), validate=True)
    except ValueError:
        raise ValueError("the PEM's body is not base64")
    if len(der) != len(P256_PREFIX) + 64 or not der.startswith(P256_PREFIX):
        raise ValueError("not an EC P-256 (prime256v1) public key with an uncompressed point")
    return der[len(P256_PREFIX):]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="ascii") as pem:
            point = point_of(pem.read())
    except (OSError, UnicodeDecodeError, ValueError) as error:
        print(f"site_key: {argv[1]}: {error}", file=sys.stderr)
        return 1
    with open(argv[2], "wb") as out:
        out.write(point)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""The maker's publishing tool: lays out a product's web site for its installer
(Install-<product>.exe), and checks a live site the way the installer reads it.

rules: what the installer does with a manifest and its entries; layout: what
of the product's folder goes on the site; site_folder: the site on the disk
and the swap that puts it live; signature: the manifest's signature, made and
checked with openssl; check: the live site fetched as the installer fetches
it; cli: the command line. PublishError is the one error they raise:
the command line prints it as one "publish:" line."""


import sys


class PublishError(Exception):
    """Why the tool stops, as one line; refusals, each (entry, why), are printed
    before it."""

    def __init__(self, message, refusals=()):
        super().__init__(message)
        self.refusals = list(refusals)


def shown(text):
    """Text for a message: bytes that are no characters, and control
    characters, escaped."""
    text = text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
    return "".join(c if c.isprintable() else "\\x%02x" % ord(c) for c in text)


def note(text):
    """A note or warning, on standard error."""
    print("publish: " + text, file=sys.stderr)

"""The live site read as the installer reads it: the manifest, then every
listed file, each fault reported on a line of its own."""
import hashlib
import http.client
import os
import sys
import urllib.parse

from . import PublishError, shown
from .rules import (CODE_PAGE, UNSAFE, WINDOWS, entry_faults, manifest_entry, manifest_lines, site_url,
                    update_files, url_path, windows_upper)


class RawPathConnection(http.client.HTTPConnection):
    """Sends the request path's bytes as they are, like the installer."""

    def _encode_request(self, request):
        return request.encode("latin-1")


class Site:
    def __init__(self, url):
        parts = urllib.parse.urlsplit(site_url(url))
        try:
            port = parts.port or 80
        except ValueError:
            port = None
        if parts.scheme != "http" or not parts.hostname or not port or parts.path not in ("", "/") or parts.query:
            raise PublishError("--check takes http://HOST[:PORT] or the build's site host www.HOST[:PORT] "
                               "(the installer fetches plain HTTP)")
        if parts.hostname.startswith("www."):
            print("publish: note: an installer built for the site host %s asks http://%s: pass %s to check that"
                  % (parts.netloc, parts.netloc[4:], parts.netloc), file=sys.stderr)
        self.host, self.port = parts.hostname, port
        self.connection = None

    def fetch(self, path, sink=None):
        """Fetches path (bytes); returns (status, body length, announced
        length or None, error text or None); hands the body to sink."""
        for attempt in (1, 2):
            if self.connection is None:
                self.connection = RawPathConnection(self.host, self.port, timeout=30)
            try:
                self.connection.putrequest("GET", path.decode("latin-1"), skip_accept_encoding=True)
                self.connection.putheader("Cache-Control", "no-cache")
                self.connection.endheaders()
                response = self.connection.getresponse()
            except (OSError, http.client.HTTPException) as error:
                self.close()
                # A kept-alive connection the server has dropped since.
                if attempt == 1 and isinstance(error, (http.client.RemoteDisconnected, ConnectionResetError,
                                                       BrokenPipeError)):
                    continue
                return None, 0, None, str(error) or type(error).__name__
            break
        announced = response.getheader("Content-Length")
        announced = int(announced) if announced and announced.strip().isdigit() else None
        received, error = 0, None
        try:
            while True:
                block = response.read(1 << 20)
                if not block:
                    break
                received += len(block)
                if sink is not None and 200 <= response.status <= 299:
                    sink(block)
        except (OSError, http.client.HTTPException) as error_:
            error = str(error_) or type(error_).__name__
        if error or response.will_close or (announced is not None and received != announced):
            self.close()
        return response.status, received, announced, error

    def close(self):
        if self.connection is not None:
            self.connection.close()
            self.connection = None


def transfer_fault(status, received, announced, error):
    if status is None:
        return "not fetched: %s" % error
    if status == 404:
        return "missing (404)"
    if not 200 <= status <= 299:
        return "answered %d" % status
    if error:
        return "cut off after %d bytes: %s" % (received, error)
    if announced is not None and received < announced:
        return "cut off: %d of %d bytes" % (received, announced)
    if received == 0:
        return "empty: the installer takes an empty download for a failed one"
    return None


class LocalCompare:
    """Compares a body, as it arrives, with a local file."""

    def __init__(self, path):
        self.digest = hashlib.sha256()
        self.path = path

    def __call__(self, block):
        self.digest.update(block)

    def fault(self, received):
        try:
            size = os.path.getsize(self.path)
            local = hashlib.sha256()
            with open(self.path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    local.update(block)
        except OSError:
            return "not in the product folder"
        if size != received:
            return "differs in size: %d bytes on the site, %d in the product folder" % (received, size)
        if local.digest() != self.digest.digest():
            return "differs in content from the product folder"
        return None


def check(url, product, against=None):
    """Checks the site at url (http://HOST or the build's www.HOST) for
    product, comparing with the folder against if given; prints a line for
    each problem and returns the exit status: 0 only for a clean site."""
    site = Site(url)
    manifest = manifest_entry(product)
    base = b"/Updates/" + product.encode(CODE_PAGE, "replace")
    manifest_path = url_path(base, manifest.encode(CODE_PAGE, "replace"))
    progress = sys.stderr.isatty()
    problems = []

    def report(entry, fault):
        problems.append(entry)
        if progress:
            sys.stderr.write("\r\x1b[K")
        print("%s: %s" % (shown(entry), fault))

    body = []
    status, received, announced, error = site.fetch(manifest_path, body.append)
    fault = transfer_fault(status, received, announced, error)
    if fault:
        report(manifest, fault + " (http://%s:%d%s)" % (site.host, site.port, manifest_path.decode("latin-1")))
        return finish(problems, 0)
    try:
        entries = update_files(manifest_lines(b"".join(body)))
    except UnicodeDecodeError:
        report(manifest, "has a UTF-8 mark but is not UTF-8: the installer cannot read it")
        return finish(problems, 0)
    if entries is None or len(entries) < 2:
        report(manifest, "has no [UpdateFiles] section with at least 2 entries: the installer refuses it")
        return finish(problems, 0)

    listed = [e for e in entries if not e.startswith(manifest)]
    checked = 0
    for number, entry in enumerate(listed, 1):
        if progress:
            sys.stderr.write("\r\x1b[K[%d/%d] %s" % (number, len(listed), shown(entry)))
            sys.stderr.flush()
        unsafe = [why for kind, why in entry_faults(entry) if kind in (UNSAFE, WINDOWS)]
        if unsafe:
            report(entry or "(empty line)", unsafe[0])
            continue
        compare = None
        if against:
            compare = LocalCompare(os.path.join(against, *entry.split("\\")))
        status, received, announced, error = site.fetch(url_path(base, entry.encode(CODE_PAGE, "replace")), compare)
        fault = transfer_fault(status, received, announced, error)
        if fault is None and compare is not None:
            fault = compare.fault(received)
        if fault:
            report(entry, fault)
        checked += 1
    site.close()

    if against:
        keys = {windows_upper(e) for e in listed} | {windows_upper(manifest)}
        for parent, _, names in os.walk(against):
            for name in names:
                entry = os.path.relpath(os.path.join(parent, name), against).replace(os.sep, "\\")
                if windows_upper(entry) not in keys:
                    report(entry, "in the product folder but not listed on the site")
    if progress:
        sys.stderr.write("\r\x1b[K")
    return finish(problems, checked)


def finish(problems, checked):
    if problems:
        print("publish: the site would not install cleanly: %d problem%s" % (len(problems), "" if len(problems) == 1
                                                                               else "s"))
        return 1
    print("publish: the site would install cleanly: the manifest and %d files" % checked)
    return 0

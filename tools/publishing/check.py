"""The live site read as the installer reads it: the manifest, then every
listed file, each fault reported on a line of its own."""
import hashlib
import http.client
import os
import sys
import urllib.parse

from . import PublishError, shown
from .rules import (DOWNLOAD_LIMIT, UNSAFE, WINDOWS, entry_faults, file_hashes, manifest_entry, manifest_lines,
                    order_faults, path_fault, release_number, site_url, update_files, url_path, windows_upper)
from .signature import public_key_of, verifies
from .site_folder import file_digest

# WinINet follows redirects by itself; this many are followed here.
REDIRECTS = 10


class RawPathConnection(http.client.HTTPConnection):
    """Sends the request path's bytes as they are, like the installer.

    http.client's public calls send only ASCII request lines, and escaping
    the other bytes would ask a server something else than the installer
    asks; so the one step that encodes the line is replaced."""

    def _encode_request(self, request):
        return request.encode("latin-1")


class Site:
    def __init__(self, url, timeout=30):
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
        self.host, self.port, self.timeout = parts.hostname, port, timeout
        self.connection = None
        self.redirected = None

    def url(self, path):
        return "http://%s:%d%s" % (self.host, self.port, path.decode("latin-1"))

    def fetch(self, path, sink=None):
        """Fetches path (bytes), following redirects as WinINet does; returns
        (status, body length, announced length or None, error text or
        None); hands the body to sink. self.redirected is then where the
        redirects went, or None."""
        host, port, self.redirected = self.host, self.port, None
        for _ in range(REDIRECTS + 1):
            result = self.fetch_once(host, port, path, sink)
            status, location = result[0], result[4]
            if status not in (301, 302, 303, 307, 308) or not location:
                return result[:4]
            url = urllib.parse.urljoin("http://%s:%d%s" % (host, port, path.decode("latin-1")), location)
            parts = urllib.parse.urlsplit(url)
            if parts.scheme != "http" or not parts.hostname:
                return None, 0, None, "answered %d, to %s: the check follows plain HTTP only" % (status, url)
            self.redirected = "%d to %s" % (status, url)
            host, port = parts.hostname, parts.port or 80
            path = (parts.path or "/").encode("latin-1") + (b"?" + parts.query.encode("latin-1") if parts.query else b"")
        return None, 0, None, "more than %d redirects, the last to %s" % (REDIRECTS, url)

    def fetch_once(self, host, port, path, sink):
        if self.connection is not None and (self.connection.host, self.connection.port) != (host, port):
            self.close()
        for attempt in (1, 2):
            if self.connection is None:
                self.connection = RawPathConnection(host, port, timeout=self.timeout)
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
                return None, 0, None, str(error) or type(error).__name__, None
            break
        announced = response.getheader("Content-Length")
        announced = int(announced) if announced and announced.strip().isdigit() else None
        received, error = 0, None
        if 200 <= response.status <= 299 and announced is not None and announced > DOWNLOAD_LIMIT:
            # The installer gives up before reading such a body.
            self.close()
            return response.status, 0, announced, None, None
        try:
            while received <= DOWNLOAD_LIMIT:
                # What has arrived, so that a stall reports every byte before it.
                block = response.read1(1 << 20)
                if not block:
                    break
                received += len(block)
                if sink is not None and 200 <= response.status <= 299:
                    sink(block)
        except (OSError, http.client.HTTPException) as error_:
            error = str(error_) or type(error_).__name__
            if isinstance(error_, TimeoutError) or "timed out" in error:
                error = "nothing more for %g seconds" % self.timeout
        # A body read to its end frees the kept-alive connection for the next request.
        response.close()
        if error or response.will_close or received > DOWNLOAD_LIMIT or (
                announced is not None and received != announced):
            self.close()
        return response.status, received, announced, error, response.getheader("Location")

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
    if max(received, announced or 0) > DOWNLOAD_LIMIT:
        return "is over %d bytes: the installer fetches at most %d" % (DOWNLOAD_LIMIT, DOWNLOAD_LIMIT)
    if announced is not None and received < announced:
        return "cut off: %d of %d bytes" % (received, announced)
    if received == 0:
        return "empty: the installer takes an empty download for a failed one"
    return None


def hash_fault(received, digest, listed):
    """What is wrong with a body of received bytes and digest (hex) where
    the manifest lists (size, hex digest), or None."""
    size, expected = listed
    if received != size:
        return ("is %d bytes, its [FileHashes] line says %d: cut off, or another file (an error page?) in its "
                "place; the installer refuses it" % (received, size))
    if digest != expected:
        return "differs from its [FileHashes] line: changed on the site or on the way; the installer refuses it"
    return None


def local_fault(path, received, digest):
    """What differs between a body of received bytes and digest (hex) and
    the local file at path, or None."""
    try:
        size, local = file_digest(path)
    except FileNotFoundError:
        return "not in the product folder"
    except OSError as error:
        return "cannot be read in the product folder: %s" % error.strerror
    if size != received:
        return "differs in size: %d bytes on the site, %d in the product folder" % (received, size)
    if local != digest:
        return "differs in content from the product folder"
    return None


def check(url, product, against=None, timeout=30, key=None):
    """Checks the site at url (http://HOST or the build's www.HOST) for
    product, comparing with the folder against if given, and the manifest's
    signature with the public key at key if given; prints a line for each
    problem and returns the exit status: 0 only for a clean site."""
    if against is not None and not os.path.isdir(against):
        raise PublishError("--against %s is not a folder" % against)
    public_key = public_key_of(key, private=False) if key else None
    site = Site(url, timeout)
    manifest = manifest_entry(product)
    manifest_path = url_path(product, manifest)
    progress = sys.stderr.isatty()
    problems = []

    def say(line):
        if progress:
            sys.stderr.write("\r\x1b[K")
        print(line)
        sys.stdout.flush()

    def report(entry, fault):
        problems.append(entry)
        say("%s: %s" % (shown(entry), fault))

    body = []
    status, received, announced, error = site.fetch(manifest_path, body.append)
    fault = transfer_fault(status, received, announced, error)
    if fault:
        report(manifest, fault + " (%s)" % site.url(manifest_path))
        return finish(problems, 0)
    if site.redirected:
        say("%s: moved, %s: the installer follows it" % (manifest, site.redirected))
    body = b"".join(body)
    try:
        lines = manifest_lines(body)
    except UnicodeDecodeError:
        report(manifest, "has a UTF-8 mark but is not UTF-8: the installer cannot read it")
        return finish(problems, 0)
    entries = update_files(lines)
    if entries is None or len(entries) < 2:
        report(manifest, "has no [UpdateFiles] section with at least 2 entries: the installer refuses it")
        return finish(problems, 0)
    release = release_number(lines)

    if public_key is not None:
        signature, signature_path = [], url_path(product, manifest + ".sig")
        fault = transfer_fault(*site.fetch(signature_path, signature.append))
        if fault is None and not verifies(body, b"".join(signature), public_key):
            fault = "does not verify the manifest with %s" % shown(key)
        if fault:
            report(manifest + ".sig", fault + ": installers built with the key refuse the site")

    hashes = file_hashes(lines)
    if hashes is None:
        if public_key is not None:
            report(manifest, "has no [FileHashes] section: installers built with a key refuse the site")
        else:
            say("%s: has no [FileHashes] section: the installer fetches every file unchecked" % manifest)
    elif hashes[1]:
        report(manifest, "has %d malformed [FileHashes] line%s (not ENTRY=SIZE SHA-256, or an entry given twice), "
                         "the first %s: installers built with a key refuse the site, the others fetch their "
                         "files unchecked"
                         % (len(hashes[1]), "" if len(hashes[1]) == 1 else "s", shown(hashes[1][0])))

    listed = [e for e in entries if not e.startswith(manifest)]
    for fault in order_faults(listed, product):
        report(manifest, fault)
    twins = {}
    for entry in listed:
        twins.setdefault(windows_upper(entry), []).append(entry)
    checked = 0
    for number, entry in enumerate(listed, 1):
        if progress:
            sys.stderr.write("\r\x1b[K[%d/%d] %s" % (number, len(listed), shown(entry)))
            sys.stderr.flush()
        # What the installer stops at first, then what it cannot write.
        unsafe = [why for kind, why in sorted(entry_faults(entry), key=lambda f: f[0] != UNSAFE)
                  if kind in (UNSAFE, WINDOWS)]
        unsafe += [why for why in [path_fault(entry, product)] if why]
        twin = twins[windows_upper(entry)]
        if twin.index(entry) > 0:
            unsafe.append("differs only in letter case from %s, listed before it: on Windows they are one file, "
                          "and this one overwrites it" % shown(twin[0]))
        if unsafe:
            report(entry or "(empty line)", unsafe[0])
            continue
        digest = hashlib.sha256()
        status, received, announced, error = site.fetch(url_path(product, entry), digest.update)
        fault = transfer_fault(status, received, announced, error)
        if fault is None and hashes is not None:
            if entry in hashes[0]:
                fault = hash_fault(received, digest.hexdigest(), hashes[0][entry])
            elif entry not in {line.rpartition("=")[0] for line in hashes[1]}:
                fault = ("has no [FileHashes] line: installers built with a key refuse the site, the others fetch "
                         "it unchecked")
        if fault is None and against:
            fault = local_fault(os.path.join(against, *entry.split("\\")), received, digest.hexdigest())
        if fault:
            report(entry, fault + (" (after %s)" % site.redirected if site.redirected else ""))
        elif site.redirected:
            say("%s: moved, %s: the installer follows it" % (shown(entry), site.redirected))
        checked += 1
    site.close()

    if against:
        keys = {windows_upper(e) for e in listed} | {windows_upper(manifest)}

        def unreadable(error):
            report(os.path.relpath(error.filename, against).replace(os.sep, "\\"),
                   "cannot be read in the product folder: %s" % error.strerror)
        for parent, _, names in os.walk(against, onerror=unreadable):
            for name in names:
                entry = os.path.relpath(os.path.join(parent, name), against).replace(os.sep, "\\")
                if windows_upper(entry) not in keys:
                    report(entry, "in the product folder but not listed on the site")
    if progress:
        sys.stderr.write("\r\x1b[K")
    said = ", release %d" % release if release else ", no release number"
    if public_key is not None:
        said += ", signed with the key of %s" % shown(key)
    return finish(problems, checked, said)


def finish(problems, checked, said=""):
    if problems:
        print("publish: the site would not install cleanly: %d problem%s" % (len(problems), "" if len(problems) == 1
                                                                               else "s"))
        return 1
    print("publish: the site would install cleanly: the manifest and %d files%s" % (checked, said))
    return 0

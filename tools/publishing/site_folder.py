"""The site folder on the disk: names as a web server looks them up, modes
that let it read them, and the swap that puts a new Updates/<product>/ in
place of the old so that the server always finds one whole site."""
import ctypes
import ctypes.util
import hashlib
import os
import shutil
import sys
import tempfile

from . import PublishError, note, shown
from .rules import CODE_PAGE

# A web server runs as a user of its own: whatever the source's modes, the
# site is readable by everyone.
FILE_MODE, FOLDER_MODE = 0o644, 0o755


def site_name(segment):
    """The name a web server looks up for a segment the installer asks for:
    on Linux and macOS its code page 1251 bytes."""
    if os.name == "nt":
        return segment
    return segment.encode(CODE_PAGE)


def site_path(folder, entry):
    """Where entry lies below the site folder folder (the maker's own path,
    kept as it is)."""
    if os.name == "nt":
        return os.path.join(folder, *entry.split("\\"))
    return os.path.join(os.fsencode(folder), *(site_name(s) for s in entry.split("\\")))


def make_folders(path):
    """Makes path and its missing parents, each readable by all."""
    if os.path.isdir(path):
        return
    make_folders(os.path.dirname(path))
    os.mkdir(path)
    os.chmod(path, FOLDER_MODE)


def file_digest(path):
    """The size and SHA-256 (lower-case hex) of the file at path."""
    digest, size = hashlib.sha256(), 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
            size += len(block)
    return size, digest.hexdigest()


def copy_file(source, target):
    """Copies source (a path, or the bytes themselves) to target, readable by
    all; on the disk before the swap where no system-wide sync follows.
    Returns the size and SHA-256 (lower-case hex) of what was written."""
    digest, size = hashlib.sha256(), 0
    with open(target, "wb") as dst:
        if isinstance(source, bytes):
            blocks = [source]
        else:
            src = open(source, "rb")
            blocks = iter(lambda: src.read(1 << 20), b"")
        try:
            for block in blocks:
                digest.update(block)
                size += len(block)
                dst.write(block)
        finally:
            if not isinstance(source, bytes):
                src.close()
        if not hasattr(os, "sync"):
            dst.flush()
            os.fsync(dst.fileno())
    os.chmod(target, FILE_MODE)
    return size, digest.hexdigest()


def remove_tree(path):
    """Removes a folder the tool made; a failure is a warning, not a secret."""
    def failed(function, name, error):
        note("warning: cannot remove %s: %s" % (shown(os.fsdecode(name)), getattr(error, "strerror", error)))
    if sys.version_info >= (3, 12):
        shutil.rmtree(path, onexc=failed)
    else:
        shutil.rmtree(path, onerror=lambda function, name, info: failed(function, name, info[1]))


RENAME_EXCHANGE = 2


def exchange(a, b):
    """Swaps the folders a and b in one step where the system can (Linux's
    renameat2); False where it cannot."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or None, use_errno=True)
        renameat2 = libc.renameat2
    except (OSError, AttributeError):
        return False
    at_cwd = -100
    if renameat2(at_cwd, os.fsencode(a), at_cwd, os.fsencode(b), RENAME_EXCHANGE) == 0:
        return True
    code = ctypes.get_errno()
    if code in (22, 38, 95):  # EINVAL, ENOSYS, EOPNOTSUPP: not on this file system
        return False
    raise OSError(code, os.strerror(code), a)


def recover(updates, product, base):
    """Undoes what an interrupted run left: a live site missing between the
    two renames of the swap is put back from the old one, and only then is
    the rest removed."""
    leftovers = sorted(os.path.join(updates, name) for name in os.listdir(updates)
                       if name.startswith((".%s.new-" % product, ".%s.old-" % product)))
    if not os.path.lexists(base):
        for old in leftovers:
            if os.path.basename(old).startswith(".%s.old-" % product) and os.path.isdir(os.path.join(old, product)):
                os.rename(os.path.join(old, product), base)
                note("note: %s was missing after an interrupted run: the previous site is back" % base)
                break
    for leftover in leftovers:
        remove_tree(leftover)


def replace_site(updates, product, files, last=lambda written: []):
    """Lays out files, each (entry, source path or the bytes themselves), as
    updates/product/, then what last returns for the files as written (entry
    -> (size, SHA-256 hex)), as (entry, bytes); and swaps it in. On any
    failure, and after a kill at any point, the site is the old one or the
    new one."""
    base = os.path.join(updates, product)
    make_folders(os.path.abspath(updates))
    recover(updates, product, base)
    # Laid out beside the old site and swapped in, so that a failure or a
    # kill leaves the previous site as it was.
    staging = tempfile.mkdtemp(prefix=".%s.new-" % product, dir=updates)
    old = None
    try:
        os.chmod(staging, FOLDER_MODE)
        written = {}

        def lay_out(files):
            for entry, source in files:
                target = site_path(staging, entry)
                make_folders(os.path.dirname(target))
                try:
                    written[entry] = copy_file(source, target)
                except OSError as error:
                    raise PublishError("cannot lay out %s: %s; the site is as it was"
                                       % (shown(entry), error.strerror)) from error
        lay_out(files)
        # What is said about the files (their sizes and hashes) comes from
        # the very bytes laid out, whatever the product folder holds by now.
        lay_out(last(dict(written)))
        if hasattr(os, "sync"):
            os.sync()  # the new site on the disk before it goes live
        # Where two folders cannot be swapped in one step (Windows, some file
        # systems) the site is missing between the two renames; a run killed
        # there is undone by the next one (recover).
        if os.path.isdir(base) and exchange(staging, base):
            old, staging = staging, None
        else:
            if os.path.lexists(base):
                old = tempfile.mkdtemp(prefix=".%s.old-" % product, dir=updates)
                os.rename(base, os.path.join(old, product))
            try:
                os.rename(staging, base)
            except OSError:
                if old is not None:
                    os.rename(os.path.join(old, product), base)
                raise
            staging = None
    finally:
        if staging is not None:
            remove_tree(staging)
    if old is not None:
        remove_tree(old)

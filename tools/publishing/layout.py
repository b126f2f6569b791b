"""The site folder laid out from the product's folder: every file under its
entry, the manifest listing them, swapped in whole beside the rest of the
site so that a web server always finds the old site or the new one."""
import ctypes
import ctypes.util
import fnmatch
import os
import shutil
import sys
import tempfile

from . import PublishError, shown
from .rules import (CODE_PAGE, DOWNLOAD_LIMIT, LONG_ENTRY, PATH_LIMIT, entry_faults, manifest_entry, manifest_lines,
                    path_fault, program_entry, update_files, windows_upper)

# Left out unless --include names them: version control, and what desktops
# and editors leave behind. Matched against each file and folder name.
LEFT_OUT = (".*", "CVS", "Thumbs.db", "ehthumbs.db", "desktop.ini", "~$*", "*~")
# A web server runs as a user of its own: whatever the source's modes, the
# site is readable by everyone.
FILE_MODE, FOLDER_MODE = 0o644, 0o755


def note(text):
    print("publish: " + text, file=sys.stderr)


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


def under(path, folder):
    path, folder = (os.path.normcase(os.path.realpath(p)) for p in (path, folder))
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def matches(patterns, name, relative):
    """Whether a pattern matches the name, or the relative path ("/" between
    folders) when the pattern holds a "/"; letter case aside, as on Windows."""
    for pattern in patterns:
        pattern = pattern.replace("\\", "/").lower()
        if fnmatch.fnmatchcase(relative.lower() if "/" in pattern else name.lower(), pattern):
            return True
    return False


class Selection:
    """Which files and folders of the product are published: those the
    defaults leave out come back with include; exclude drops more."""

    def __init__(self, include=(), exclude=()):
        self.include, self.exclude = list(include), list(exclude)
        self.left_out = []

    def keeps(self, name, relative):
        if matches(self.exclude, name, relative):
            return False
        if matches(LEFT_OUT, name, relative) and not matches(self.include, name, relative):
            self.left_out.append(relative)
            return False
        return True


def product_files(folder, product, manifest, selection):
    """The product's files as (entry, source path), the program first; raises
    PublishError with every refusal when the folder cannot be published."""
    refusals = []
    files = []
    top = os.path.realpath(folder)

    def relative(path):
        return os.path.relpath(path, folder)

    def unreadable(error):
        refusals.append((relative(error.filename).replace(os.sep, "\\"), "cannot be read: %s" % error.strerror))

    for parent, folders, names in os.walk(folder, onerror=unreadable):
        for name in sorted(folders):
            path = os.path.join(parent, name)
            if not selection.keeps(name, relative(path).replace(os.sep, "/")):
                folders.remove(name)
            elif os.path.islink(path):
                refusals.append((relative(path).replace(os.sep, "\\"), "a link to a folder: put the folder itself there"))
        for name in names:
            path = os.path.join(parent, name)
            if not selection.keeps(name, relative(path).replace(os.sep, "/")):
                continue
            entry = relative(path).replace(os.sep, "\\")
            # On Unix "\" in a name is a character: in the entry it would
            # split the name into folders.
            if os.sep != "\\" and "\\" in name:
                refusals.append((entry, 'holds "\\": in the manifest it would separate folders'))
            if os.path.islink(path) and not under(path, top):
                refusals.append((entry, "a link to %s, outside the product folder: what it points to would be "
                                        "published" % shown(os.path.realpath(path))))
                continue
            files.append((entry, path))
    if selection.left_out:
        note("note: left out, as version control or desktop files: %s (--include PATTERN keeps one)"
             % ", ".join(shown(e.replace("/", "\\")) for e in sorted(selection.left_out, key=str.lower)))

    left_out = [f for f in files if windows_upper(f[0]) == windows_upper(manifest)]
    for entry, _ in left_out:
        note("note: the product's own %s is left out: the generated manifest takes its place" % shown(entry))
    files = [f for f in files if f not in left_out]

    for entry, path in files:
        for _, why in entry_faults(entry):
            refusals.append((entry, why))
        too_long = path_fault(entry, product)
        if too_long:
            refusals.append((entry, too_long))
        if entry.startswith(manifest):
            refusals.append((entry, "begins with %s: the installer takes it for the manifest and skips it" % manifest))
        try:
            size = os.path.getsize(path)
            with open(path, "rb"):
                pass
        except OSError as error:
            refusals.append((entry, "cannot be read: %s" % error.strerror))
            continue
        if size == 0:
            refusals.append((entry, "is empty: the installer takes an empty download for a failed one"))
        elif size > DOWNLOAD_LIMIT:
            refusals.append((entry, "is %d bytes: the installer fetches at most %d" % (size, DOWNLOAD_LIMIT)))

    # Windows sees one name where these differ only in letter case, and a
    # file and a folder of one name cannot both be.
    seen = {}
    for entry, _ in files:
        seen.setdefault(windows_upper(entry), []).append(entry)
    folders = {}
    for entry, _ in files:
        segments = entry.split("\\")
        for i in range(1, len(segments)):
            folders.setdefault(windows_upper("\\".join(segments[:i])), "\\".join(segments[:i]))
    for key, entries in sorted(seen.items()):
        if len(entries) > 1:
            for entry in sorted(entries):
                refusals.append((entry, "differs only in letter case from %s: on Windows they are one file"
                                 % ", ".join(shown(e) for e in sorted(entries) if e != entry)))
        if key in folders:
            refusals.append((entries[0], "differs only in letter case from the folder %s: on Windows they are one name"
                             % shown(folders[key])))

    program = program_entry(product)
    programs = [f for f in files if windows_upper(f[0]) == windows_upper(program)]
    if not programs:
        refusals.append((program, "missing: the folder holds no %s, the program the installer starts" % program))
    elif programs[0][0] != program:
        refusals.append((programs[0][0], "differs in letter case from --product %s: an installer built as %s asks "
                                         "for Updates/%s, one built as %s for Updates/%s"
                         % (product, product, product, programs[0][0][:-4], programs[0][0][:-4])))

    if refusals:
        refusals = sorted(set(refusals))
        raise PublishError("%s cannot be published: %d problem%s, nothing written"
                           % (shown(folder), len(refusals), "" if len(refusals) == 1 else "s"), refusals)

    def order(item):
        return [(windows_upper(s), s) for s in item[0].split("\\")]
    rest = sorted((f for f in files if f not in programs), key=order)
    return programs + rest


def check_product_name(product):
    problems = [why for _, why in entry_faults(product)]
    if "\\" in product or "/" in product:
        problems.append("holds a folder separator")
    if any(ord(c) > 127 for c in product):
        problems.append("not ASCII: it is part of every URL and of the program's name")
    if not product or problems:
        raise PublishError("the product name %r cannot be a folder of the site: %s"
                           % (product, "; ".join(problems) or "empty"))


def published_entries(base, manifest):
    """The entries of the manifest laid out at base before, or []."""
    try:
        with open(site_path(base, manifest), "rb") as f:
            return update_files(manifest_lines(f.read())) or []
    except (OSError, UnicodeDecodeError):
        return []


def make_folders(path):
    """Makes path and its missing parents, each readable by all."""
    if os.path.isdir(path):
        return
    make_folders(os.path.dirname(path))
    os.mkdir(path)
    os.chmod(path, FOLDER_MODE)


def copy_file(source, target):
    """Copies source (a path, or the bytes themselves) to target, readable by
    all; on the disk before the swap where no system-wide sync follows."""
    with open(target, "wb") as dst:
        if isinstance(source, bytes):
            dst.write(source)
        else:
            with open(source, "rb") as src:
                shutil.copyfileobj(src, dst, 1 << 20)
        if not hasattr(os, "sync"):
            dst.flush()
            os.fsync(dst.fileno())
    os.chmod(target, FILE_MODE)


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


def publish(folder, product, out, include=(), exclude=(), dry_run=False):
    """Lays out out/Updates/product/ from folder; returns the line that says
    what was laid out. On any failure the site is as it was."""
    if not os.path.isdir(folder):
        raise PublishError("%s is not a folder" % folder)
    check_product_name(product)
    if os.path.lexists(out) and not os.path.isdir(out):
        raise PublishError("the site folder %s is not a folder" % out)
    updates = os.path.join(out, "Updates")
    base = os.path.join(updates, product)
    if under(out, folder):
        raise PublishError("the site folder %s is inside the product folder %s" % (out, folder))
    if under(folder, base) or under(base, folder):
        raise PublishError("the product folder %s and the site's %s overlap" % (folder, base))
    for path in (out, updates, base):
        if os.path.islink(path):
            raise PublishError("%s is a link: the site is written only inside the site folder" % path)

    manifest = manifest_entry(product)
    files = product_files(folder, product, manifest, Selection(include, exclude))

    for entry, _ in files:
        if any(ord(c) > 127 for c in entry):
            note("warning: %s is not ASCII: the installer asks for it with its code page 1251 bytes "
                 "unescaped, so the site holds it under those bytes; upload it with a tool that keeps file names "
                 "as bytes (see --help)" % shown(entry))
        if len(entry) > LONG_ENTRY:
            note("warning: %s is %d characters: a destination folder longer than %d characters puts it past the "
                 "installer's path limit of %d" % (shown(entry), len(entry), PATH_LIMIT - 1 - len(entry), PATH_LIMIT))
    keys = {windows_upper(entry) for entry, _ in files} | {windows_upper(manifest)}
    dropped = [e for e in published_entries(base, manifest) if windows_upper(e) not in keys]
    if dropped:
        note("warning: no longer published, but left on the users' machines (the installer deletes nothing): %s"
             % ", ".join(shown(e) for e in dropped))

    lines = ["[UpdateFiles]", manifest] + [entry for entry, _ in files]
    text = "".join(line + "\r\n" for line in lines).encode(CODE_PAGE)
    total = len(text) + sum(os.path.getsize(source) for _, source in files)
    if dry_run:
        for line in lines[1:]:
            print(shown(line))
        return "dry run, nothing written: %s would get %d files, %d bytes" % (base, len(files) + 1, total)

    make_folders(os.path.abspath(updates))
    recover(updates, product, base)
    # Laid out beside the old site and swapped in, so that a failure or a
    # kill leaves the previous site as it was.
    staging = tempfile.mkdtemp(prefix=".%s.new-" % product, dir=updates)
    old = None
    try:
        os.chmod(staging, FOLDER_MODE)
        for entry, source in files + [(manifest, None)]:
            target = site_path(staging, entry)
            make_folders(os.path.dirname(target))
            try:
                copy_file(text if source is None else source, target)
            except OSError as error:
                raise PublishError("cannot lay out %s: %s; the site is as it was"
                                   % (shown(entry), error.strerror)) from error
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
    return "%s: %d files, %d bytes, the manifest %s" % (base, len(files) + 1, total, manifest)

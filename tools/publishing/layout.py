"""What goes on the site: the product's files, each under its entry, what
is left out or refused and why, and the manifest that lists them."""
import fnmatch
import os

from . import PublishError, note, shown
from .rules import (DOWNLOAD_LIMIT, LONG_ENTRY, PATH_LIMIT, RELEASE_LIMIT, entry_faults, manifest_entry,
                    manifest_lines, manifest_text, path_fault, program_entry, release_number, update_files,
                    windows_upper)
from .signature import public_key_of, sign, verifies
from .site_folder import file_digest, replace_site, site_path

# Left out unless --include names them: version control, and what desktops
# and editors leave behind. Matched against each file and folder name.
LEFT_OUT = (".*", "CVS", "Thumbs.db", "ehthumbs.db", "desktop.ini", "~$*", "*~")


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


class Published:
    """What the site at base holds from before: the manifest's bytes, its
    entries and release number, and the signature's bytes (None where
    missing)."""

    def __init__(self, base, manifest):
        self.manifest, self.signature = (self.read(site_path(base, name)) for name in (manifest, manifest + ".sig"))
        try:
            lines = manifest_lines(self.manifest or b"")
        except UnicodeDecodeError:
            lines = []
        self.entries = update_files(lines) or []
        self.release = release_number(lines)

    @staticmethod
    def read(path):
        try:
            with open(path, "rb") as f:
                return f.read()
        except OSError:
            return None


def release_for(manifest, before, release):
    """The release number: release if given, else the site's number (before)
    when the manifest would be as it was, and one more otherwise. manifest
    gives the manifest's bytes for a number."""
    if release is not None:
        if before.release == release and manifest(release) != before.manifest:
            note("note: release %d is the site's present number, and the files changed: installers that have "
                 "release %d take the new files for a repair" % (release, release))
        return release
    if before.release and manifest(before.release) == before.manifest:
        return before.release
    if before.release >= RELEASE_LIMIT:
        raise PublishError("the site's release number %d is the highest the installer reads: nothing written"
                           % before.release)
    return before.release + 1


def publish(folder, product, out, include=(), exclude=(), dry_run=False, release=None, force=False, sign_key=None):
    """Lays out out/Updates/product/ from folder, the manifest numbered
    release (by default as the site's, or one more when anything changed)
    and signed with the private key at sign_key if given; returns the line
    that says what was laid out. On any failure the site is as it was."""
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
    public_key = public_key_of(sign_key, private=True) if sign_key else None
    before = Published(base, manifest)
    if release is not None and release < before.release and not force:
        raise PublishError("--release %d is lower than the site's present release %d: installers that have a "
                           "later release refuse to go back to it; with --force it is published all the same"
                           % (release, before.release))
    if before.signature is not None and not sign_key and not force:
        raise PublishError("the site is signed (%s.sig) and this run signs nothing: installers built with the key "
                           "would refuse it; pass --sign-key KEY.pem (or --force to publish it unsigned)" % manifest)
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
    dropped = [e for e in before.entries if windows_upper(e) not in keys]
    if dropped:
        note("warning: no longer published, but left on the users' machines (the installer deletes nothing): %s"
             % ", ".join(shown(e) for e in dropped))

    entries = [manifest] + [entry for entry, _ in files]
    laid_out = {}

    def manifest_and_signature(written):
        def text(number):
            return manifest_text(entries, written, number)
        number = release_for(text, before, release)
        laid_out.update(release=number, bytes=len(text(number)) + sum(size for size, _ in written.values()))
        if not sign_key or dry_run:
            return [(manifest, text(number))]
        if before.signature is not None and before.manifest is not None and not verifies(
                before.manifest, before.signature, public_key):
            note("warning: the site's present signature does not verify with %s: installers built with the key "
                 "that made it refuse the new site" % shown(sign_key))
        if text(number) == before.manifest and before.signature is not None and verifies(
                before.manifest, before.signature, public_key):
            # ECDSA signs differently each time: the same manifest keeps its signature.
            signature = before.signature
        else:
            signature = sign(text(number), sign_key, public_key)
        return [(manifest, text(number)), (manifest + ".sig", signature)]

    if dry_run:
        for entry in entries:
            print(shown(entry))
        manifest_and_signature({entry: file_digest(source) for entry, source in files})
        return "dry run, nothing written: %s would get %d files, %d bytes, release %d" % (
            base, len(files) + 1, laid_out["bytes"], laid_out["release"])

    replace_site(updates, product, files, manifest_and_signature)
    return "%s: %d files, %d bytes, the manifest %s, release %d%s" % (
        base, len(files) + 1, laid_out["bytes"], manifest, laid_out["release"],
        ", signed" if sign_key else "")

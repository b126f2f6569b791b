"""What goes on the site: the product's files, each under its entry, what
is left out or refused and why, and the manifest that lists them."""
import fnmatch
import os

from . import PublishError, note, shown
from .rules import (CODE_PAGE, DOWNLOAD_LIMIT, LONG_ENTRY, PATH_LIMIT, entry_faults, manifest_entry, manifest_lines,
                    path_fault, program_entry, update_files, windows_upper)
from .site_folder import replace_site, site_path

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


def published_entries(base, manifest):
    """The entries of the manifest laid out at base before, or []."""
    try:
        with open(site_path(base, manifest), "rb") as f:
            return update_files(manifest_lines(f.read())) or []
    except (OSError, UnicodeDecodeError):
        return []


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

    replace_site(updates, product, files + [(manifest, text)])
    return "%s: %d files, %d bytes, the manifest %s" % (base, len(files) + 1, total, manifest)

"""The site folder laid out from the product's folder: every file under its
entry, the manifest listing them, swapped in whole beside the rest of the
site."""
import os
import shutil
import sys
import tempfile

from . import PublishError, shown
from .rules import CODE_PAGE, DOWNLOAD_LIMIT, entry_faults, manifest_entry, windows_upper


def site_name(segment):
    """The name a web server looks up for a segment the installer asks for."""
    if os.name == "nt":
        return segment
    return segment.encode(CODE_PAGE)


def under(path, folder):
    path, folder = (os.path.normcase(os.path.realpath(p)) for p in (path, folder))
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def note(text):
    print("publish: " + text, file=sys.stderr)


def product_files(folder, product, manifest):
    """The product's files as (entry, source path), the program first; raises
    PublishError with every refusal when the folder cannot be published."""
    refusals = []
    files = []
    for parent, folders, names in os.walk(folder):
        for name in sorted(folders):
            if os.path.islink(os.path.join(parent, name)):
                refusals.append((os.path.relpath(os.path.join(parent, name), folder).replace(os.sep, "\\"),
                                 "a link to a folder: put the folder itself there"))
        for name in names:
            path = os.path.join(parent, name)
            entry = os.path.relpath(path, folder).replace(os.sep, "\\")
            # On Unix "\" in a name is a character: in the entry it would
            # split the name into folders.
            if os.sep != "\\" and "\\" in name:
                refusals.append((entry, 'holds "\\": in the manifest it would separate folders'))
            files.append((entry, path))

    left_out = [f for f in files if windows_upper(f[0]) == windows_upper(manifest)]
    for entry, _ in left_out:
        note("note: %s is left out of %s: the installer writes the manifest there" % (shown(entry), manifest))
    files = [f for f in files if f not in left_out]

    for entry, path in files:
        for _, why in entry_faults(entry):
            refusals.append((entry, why))
        if entry.startswith(manifest):
            refusals.append((entry, "begins with %s: the installer takes it for the manifest and skips it" % manifest))
        try:
            size = os.path.getsize(path)
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

    program = product + ".exe"
    programs = [f for f in files if windows_upper(f[0]) == windows_upper(program)]
    if not programs:
        refusals.append((program, "missing: the folder holds no %s, the program the installer starts" % program))

    if refusals:
        refusals = sorted(set(refusals))
        raise PublishError("%s cannot be published: %d problem%s, nothing written"
                           % (shown(folder), len(refusals), "" if len(refusals) == 1 else "s"), refusals)

    def order(item):
        return [(windows_upper(s), s) for s in item[0].split("\\")]
    rest = sorted((f for f in files if f not in programs), key=order)
    return programs + rest


def publish(folder, product, out):
    """Lays out out/Updates/product/ from folder; returns the line that says
    what was laid out."""
    if not os.path.isdir(folder):
        raise PublishError("%s is not a folder" % folder)
    problems = [why for _, why in entry_faults(product)]
    if "\\" in product or "/" in product:
        problems.append("holds a folder separator")
    if not product or problems:
        raise PublishError("the product name %r cannot be a folder of the site: %s"
                           % (product, "; ".join(problems) or "empty"))
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
    files = product_files(folder, product, manifest)

    for entry, _ in files:
        if any(ord(c) > 127 for c in entry):
            note("warning: %s is not ASCII: the installer asks for it with its code page 1251 bytes "
                 "unescaped, so the site holds it under those bytes; upload it with a tool that keeps file names "
                 "as bytes (see --help)" % shown(entry))

    lines = ["[UpdateFiles]", manifest] + [entry for entry, _ in files]
    text = "".join(line + "\r\n" for line in lines).encode(CODE_PAGE)

    # Laid out beside the old one and swapped in, so that a failure leaves
    # the previous site as it was.
    os.makedirs(updates, exist_ok=True)
    for name in os.listdir(updates):
        if name.startswith((".%s.new-" % product, ".%s.old-" % product)):
            shutil.rmtree(os.path.join(updates, name), ignore_errors=True)  # left by a run that was killed
    staging = tempfile.mkdtemp(prefix=".%s.new-" % product, dir=updates)
    old = None
    moved = False
    try:
        total = len(text)
        for entry, source in files + [(manifest, None)]:
            target = os.path.join(site_name(staging), *(site_name(s) for s in entry.split("\\")))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if source is None:
                with open(target, "wb") as f:
                    f.write(text)
            else:
                shutil.copy2(source, target)
                total += os.path.getsize(target)
        os.chmod(staging, 0o755)
        if os.path.lexists(base):
            old = tempfile.mkdtemp(prefix=".%s.old-" % product, dir=updates)
            os.rename(base, os.path.join(old, product))
            moved = True
        os.rename(staging, base)
        staging = None
    finally:
        if staging is not None:
            shutil.rmtree(staging, ignore_errors=True)
            if moved:
                os.rename(os.path.join(old, product), base)
        if old is not None:
            shutil.rmtree(old, ignore_errors=True)
    return "%s: %d files, %d bytes, the manifest %s" % (base, len(files) + 1, total, manifest)

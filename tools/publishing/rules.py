"""What the installer does with the site: the URL it builds from its site host,
how it reads the manifest, and which entries it refuses or gets wrong. Every
rule here mirrors the installer's engine; the cases that pin them are shared
with the installer's own tests (tests/data/manifest_entries.tsv)."""
CODE_PAGE = "cp1251"
# The installer takes a longer download for a failed one.
DOWNLOAD_LIMIT = 100000 * 10240
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {p + str(n) for p in ("COM", "LPT") for n in range(1, 10)}
# "\\" separates folders in an entry.
WINDOWS_FORBIDDEN = set('<>"|?*') | {chr(c) for c in range(32)}
# The installer's file functions take paths of up to 259 characters, and it
# proposes C:\Programs\<product> (or D:\Programs\<product>) as the destination.
PATH_LIMIT = 259
PROPOSED_DESTINATION = "C:\\Programs\\%s"
# Past this an entry leaves little room for a deeper destination folder.
LONG_ENTRY = 200


def manifest_entry(product):
    """Where the installer keeps the manifest, as an entry."""
    return "Resources\\%s.ini" % product


def program_entry(product):
    """The program the installer starts after a run, as an entry."""
    return product + ".exe"


def site_url(host):
    """The URL an installer built for the site host fetches from: every
    "www." becomes "http://"."""
    return host.replace("www.", "http://") if host.startswith("www.") else host


def url_path(product, entry=None):
    """The request path of the product's site folder, or of an entry in it,
    as bytes: the installer asks with the code page 1251 bytes, "\\" sent as
    "/", and WinINet sends a blank as %20 and every other byte as it is."""
    path = "/Updates/" + product + ("" if entry is None else "/" + entry.replace("\\", "/"))
    return path.encode(CODE_PAGE, "replace").replace(b" ", b"%20")


def path_fault(entry, product):
    """Why the entry's path in the proposed destination is too long for the
    installer, or None."""
    destination = PROPOSED_DESTINATION % product
    length = len(destination) + 1 + len(entry)
    if length <= PATH_LIMIT:
        return None
    return ("is %d characters: in the proposed destination %s its path is %d, past the installer's limit of %d"
            % (len(entry), destination, length, PATH_LIMIT))


def order_faults(entries, product):
    """What is wrong with where the program stands among the entries (the
    manifest's own left out), as reasons."""
    program = program_entry(product)
    at = [i for i, entry in enumerate(entries) if windows_upper(entry) == windows_upper(program)]
    if not at:
        return ["%s is not listed: the installer installs the rest and then has no program to start" % program]
    if at[0] > 0:
        return ["%s is listed after %d other file%s: an update while the product runs replaces %s before it stops "
                "at the program, and leaves the product half old, half new"
                % (program, at[0], "" if at[0] == 1 else "s", "it" if at[0] == 1 else "them")]
    return []


def windows_upper(text):
    # Windows compares names one character at a time: no "ß" -> "SS".
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in text)


def is_device_name(segment):
    base = segment.split(".", 1)[0].rstrip(" ")
    return base.upper() in DEVICE_NAMES


def is_parent_segment(segment):
    # Windows drops trailing dots and blanks: ".. " climbs like "..".
    return segment.strip(". ") == "" and segment.count(".") >= 2


# Kinds of fault: the installer stops at an "unsafe" entry and cannot write a
# "windows" one; the others only go wrong on the way there.
UNSAFE, WINDOWS, URL, CODE, SECTION = "unsafe", "windows", "url", "code page", "section"


def entry_faults(entry):
    """What the installer, Windows or the URL would do wrong with a manifest
    entry (text, "\\" between folders), as (kind, why) pairs."""
    if not entry:
        return [(WINDOWS, "an empty entry: the installer cannot write a file of no name")]
    faults = []
    if entry.startswith(("\\", "/")):
        faults.append((UNSAFE, 'starts with "\\" or "/": the installer refuses it as unsafe'))
    if ":" in entry:
        faults.append((UNSAFE, 'holds ":": the installer refuses it as unsafe'))
    if "/" in entry:
        faults.append((WINDOWS, 'holds "/": the installer makes folders only for "\\", so the file cannot be '
                                'created where its folder is missing'))
    # The installer takes "/" for a folder separator too when it judges an entry.
    for segment in entry.replace("/", "\\").split("\\"):
        if is_parent_segment(segment):
            faults.append((UNSAFE, 'has a ".." segment: the installer refuses it as unsafe'))
        elif is_device_name(segment):
            faults.append((UNSAFE, '"%s" is a device name on Windows: the installer refuses it as unsafe' % segment))
        elif segment.endswith((".", " ")):
            faults.append((WINDOWS, '"%s" ends in a dot or blank: Windows drops it, so the file would land '
                                    'under another name' % segment))
    forbidden = sorted(set(entry) & WINDOWS_FORBIDDEN)
    if forbidden:
        faults.append((WINDOWS, "holds %s: not allowed in a Windows file name"
                       % ", ".join(repr(c) if c.isprintable() else "\\x%02x" % ord(c) for c in forbidden)))
    if "%" in entry:
        faults.append((URL, 'holds "%": the server decodes "%XX" and would look for another file'))
    if "#" in entry:
        faults.append((URL, 'holds "#": the installer does not send what follows it'))
    try:
        entry.encode(CODE_PAGE)
    except UnicodeEncodeError:
        faults.append((CODE, "not representable in code page 1251: the installer reads the manifest as ANSI text"))
    if entry.startswith("["):
        faults.append((SECTION, 'starts with "[": in the manifest it would end the [UpdateFiles] section'))
    return faults


def manifest_lines(data):
    """The manifest's lines as the installer loads them: a byte-order mark
    picks the encoding, otherwise code page 1251; CR, LF or CR LF end a line.
    Raises UnicodeDecodeError for a UTF-8 mark before what is not UTF-8."""
    if data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8")
    elif data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", "replace")
    elif data.startswith(b"\xfe\xff"):
        text = data[2:].decode("utf-16-be", "replace")
    else:
        text = data.decode(CODE_PAGE, "replace")
    text = text.split("\0", 1)[0]
    lines, start, i = [], 0, 0
    while i < len(text):
        if text[i] in "\r\n":
            lines.append(text[start:i])
            i += 2 if text[i] == "\r" and text[i + 1:i + 2] == "\n" else 1
            start = i
        else:
            i += 1
    if start < len(text):
        lines.append(text[start:])
    # The installer holds each line as ANSI text: what code page 1251 lacks
    # becomes "?".
    return [line.encode(CODE_PAGE, "replace").decode(CODE_PAGE) for line in lines]


def section(lines, name):
    """The lines of section [name] up to the next "[" line, or None without
    the header."""
    header = next((i for i, line in enumerate(lines) if line.upper() == "[%s]" % name.upper()), None)
    if header is None:
        return None
    found = []
    for line in lines[header + 1:]:
        if line.startswith("["):
            break
        found.append(line)
    return found


def update_files(lines):
    """The [UpdateFiles] entries, or None without the header."""
    return section(lines, "UpdateFiles")


# The largest release number the installer reads.
RELEASE_LIMIT = 10 ** 18 - 1
HASH_DIGITS = set("0123456789abcdefABCDEF")


def count(digits, limit):
    """A decimal number of at most limit, or None."""
    if not 0 < len(digits) <= 18 or not all("0" <= c <= "9" for c in digits):
        return None
    value = int(digits)
    return value if value <= limit else None


def file_hashes(lines):
    """The [FileHashes] lines as the installer reads them: (entry -> (size,
    SHA-256 in lower-case hex), the malformed lines), or None without the
    section. A line is "<entry>=<size> <64 hex digits>", split at its last
    "="; an entry given twice counts for neither."""
    found = section(lines, "FileHashes")
    if found is None:
        return None
    hashes, twice, malformed = {}, set(), []
    for line in found:
        if not line:
            continue
        entry, equals, value = line.rpartition("=")
        size, _, digest = value.partition(" ")
        size = count(size, DOWNLOAD_LIMIT)
        if not equals or not entry or size is None or len(digest) != 64 or not set(digest) <= HASH_DIGITS:
            malformed.append(line)
        elif entry in twice or entry in hashes:
            hashes.pop(entry, None)
            twice.add(entry)
            malformed.append(line)
        else:
            hashes[entry] = (size, digest.lower())
    return hashes, malformed


def release_number(lines):
    """The [Release] section's Number, or 0 where it gives none (or no
    positive one)."""
    for line in section(lines, "Release") or []:
        if len(line) > 7 and line[:7].upper() == "NUMBER=":
            return count(line[7:], RELEASE_LIMIT) or 0
    return 0


def manifest_text(entries, hashes, release):
    """The manifest's bytes: [UpdateFiles] with entries (the manifest's own
    first), [FileHashes] with each entry's (size, hex digest) from hashes
    but the manifest's own, [Release] with the number; CR LF, code page 1251."""
    lines = ["[UpdateFiles]"] + entries + ["[FileHashes]"]
    lines += ["%s=%d %s" % (entry, hashes[entry][0], hashes[entry][1]) for entry in entries if entry in hashes]
    lines += ["[Release]", "Number=%d" % release]
    return "".join(line + "\r\n" for line in lines).encode(CODE_PAGE)


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


def manifest_entry(product):
    """Where the installer keeps the manifest, as an entry."""
    return "Resources\\%s.ini" % product


def site_url(host):
    """The URL an installer built for the site host fetches from: every
    "www." becomes "http://"."""
    return host.replace("www.", "http://") if host.startswith("www.") else host


def url_path(base, entry_bytes):
    """The request path for an entry's bytes below base: WinINet sends a blank
    as %20 and every other byte as it is."""
    return base + b"/" + entry_bytes.replace(b"\\", b"/").replace(b" ", b"%20")


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


def update_files(lines):
    """The [UpdateFiles] entries, or None without the header."""
    header = next((i for i, line in enumerate(lines) if line.upper() == "[UPDATEFILES]"), None)
    if header is None:
        return None
    entries = []
    for line in lines[header + 1:]:
        if line.startswith("["):
            break
        entries.append(line)
    return entries


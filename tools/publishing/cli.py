"""The command line: publish a product's folder, or check a live site."""
import argparse
import sys

from . import PublishError, shown
from .check import check
from .layout import LEFT_OUT, publish
from .rules import RELEASE_LIMIT, count

DESCRIPTION = """Lays out a product's web site for its installer (Install-<product>.exe), and
checks a live site the way the installer reads it."""

DETAILS = r"""
Publishing
  SITE_FOLDER/Updates/NAME/ gets every file of PRODUCT_FOLDER under its
  relative path, and the update manifest Resources\NAME.ini: a section
  [UpdateFiles] with one relative path a line ("\" between folders, CR LF
  line ends, code page 1251). Files are laid out readable by everyone
  (0644, folders 0755), whatever their modes in PRODUCT_FOLDER. Only
  Updates/NAME/ is replaced; nothing is written outside SITE_FOLDER. The
  same folder always gives the same bytes: the entries are sorted. Empty
  folders are not carried: the installer makes a folder only for a file in
  it. --dry-run prints the manifest's entries and changes nothing.

  After [UpdateFiles] (all that installers before the checks read) come
  [FileHashes], a line "ENTRY=SIZE SHA-256" for each file but the manifest
  (the entry's bytes as in [UpdateFiles], 64 lower-case hex digits), taken
  from the very bytes laid out; and [Release] with "Number=N". The
  installer checks each file against its line before it replaces anything,
  keeps a file that already has its size and hash, and never goes back to
  a lower release. --release N sets the number; without it the site keeps
  its number when nothing changed (so a second run gives the same bytes)
  and gets one more otherwise (1 for a new site). A number lower than the
  site's present one is refused unless --force is given too.

  --sign-key KEY.pem also writes Resources\NAME.ini.sig beside the
  manifest: the ECDSA P-256 / SHA-256 signature of the manifest's exact
  bytes, DER-encoded (as `openssl dgst -sha256 -sign KEY.pem` writes it),
  which an installer built with the public key requires. KEY.pem is the
  private key as `openssl ecparam -name prime256v1 -genkey -noout` makes it,
  unencrypted; any other key is refused. It needs the openssl command. An
  unchanged manifest keeps its signature. A signed site is not replaced by
  an unsigned one unless --force is given.

  The new Updates/NAME/ is laid out beside the old one and swapped in at
  once, so that a web server finds the old site or the new one, whatever
  happens in between; a run that was interrupted is undone by the next.

  Order: the manifest lists itself first, then the product's program
  NAME.exe, then the rest. When a user updates while the product is
  running, its program cannot be replaced and the installer stops at that
  entry: with the program first, it stops before any other file has been
  replaced, and the product is not left half old, half new.

  Left out, with a note: names matching
    %(left_out)s
  (version control, and what desktops and editors leave behind), unless an
  --include PATTERN matches them; --exclude PATTERN leaves out more. A
  pattern matches a file or folder name, or with a "/" in it the path
  below PRODUCT_FOLDER; letter case aside. A Resources\NAME.ini in
  PRODUCT_FOLDER (say, left by an earlier install) is left out too: the
  installer overwrites that file with the manifest.

  Refused, each offending file named, with nothing written:
    - a folder without NAME.exe, or whose program's name differs from
      NAME in letter case (the installer asks for Updates/NAME as built);
    - names the installer refuses as unsafe: the device names CON, PRN,
      AUX, NUL, COM1-9, LPT1-9 with any extension (also "CON .txt"), ".."
      (also ".. "), ":", a leading "\" or "/";
    - names Windows cannot hold or changes: < > " | ? * \ /, control
      characters, a trailing dot or blank;
    - names that do not survive the URL: "%%" (the server decodes it) and
      "#" (the rest is not sent);
    - names not representable in code page 1251: the installer reads the
      manifest as ANSI text;
    - a top-level name starting with "[": it would end the section;
    - a name that begins with Resources\NAME.ini: the installer skips it;
    - two names that differ only in letter case: on Windows they are one;
    - a path that in the proposed destination C:\Programs\NAME passes the
      installer's limit of 259 characters (a warning above 200);
    - an empty file, or one over the installer's limit of 1024000000
      bytes: the installer takes either for a failed download;
    - a link to a folder (put the folder itself there), a link to a file
      outside PRODUCT_FOLDER (what it points to would go public), and
      whatever cannot be read.
  A file published before and missing now gets a warning: the installer
  deletes nothing, so it stays on the users' machines.

  Names outside ASCII: the installer puts the code page 1251 bytes of an
  entry into the URL unescaped, and a web server looks the file up by those
  very bytes. So on Linux and macOS the site holds such a file under its
  code page 1251 bytes, not under its UTF-8 name (a UTF-8 name would never
  be found), and a warning names it. Upload with a tool that keeps file
  names as bytes (rsync, scp, tar); a server or CDN that insists on UTF-8
  names will not find these files. On Windows the site holds the ordinary
  name: a Windows server maps such bytes through the system's code page.
  NAME itself must be ASCII: it is part of every URL and of the program's
  name.

Checking
  --check reads http://HOST/Updates/NAME/Resources/NAME.ini as the
  installer does. The installer turns its site host www.HOST into
  http://HOST (every "www." becomes "http://"): an installer built with
  PRODUCT_SITE_HOST=www.pelmar.ru fetches from http://pelmar.ru, so the site
  must answer on that name. --check www.pelmar.ru applies the same rule. It
  reads the manifest (section [UpdateFiles], "\" sent as "/", the entry's
  bytes unescaped but for a blank, which WinINet sends as %%20), follows
  redirects as the installer does and shows where they went, fetches every
  listed file and reports each that is missing, answers other than 2xx, is
  cut off, stalls for --timeout seconds (30, as the installer), is empty or
  over the installer's limit, or that the installer refuses or cannot
  write; and the program missing from the manifest or listed after other
  files; each file that differs from its [FileHashes] line (cut off,
  changed, an error page answered with 200), an entry without a line, and a
  malformed line. With --key PUBLIC.pem (the public key the installer is
  built with) it fetches Resources\NAME.ini.sig too and checks it against
  the manifest's bytes, and reports the release number. With --against it
  also reports files that differ in size or content from PRODUCT_FOLDER,
  and files listed on one side only. Exit
  status 0 only when the site would install cleanly, 1 when it would not,
  2 for a wrong command line.
""" % {"left_out": " ".join(LEFT_OUT)}


def release_number(text):
    number = count(text, RELEASE_LIMIT)
    if not number:
        raise argparse.ArgumentTypeError("takes a whole number from 1 to %d, not %r" % (RELEASE_LIMIT, text))
    return number


def main(argv=None):
    """Runs the command line; returns the exit status. Every failure ends as
    one "publish:" line on standard error (after the refusals it lists) and
    status 1; a wrong command line gives status 2."""
    parser = argparse.ArgumentParser(
        prog="publish", description=DESCRIPTION, epilog=DETAILS, formatter_class=argparse.RawDescriptionHelpFormatter,
        usage="%(prog)s PRODUCT_FOLDER --product NAME --out SITE_FOLDER [--dry-run]\n"
              "                 [--include PATTERN]... [--exclude PATTERN]...\n"
              "                 [--release N [--force]] [--sign-key KEY.pem]\n"
              "       %(prog)s --check http://HOST --product NAME [--against PRODUCT_FOLDER]\n"
              "                 [--key PUBLIC.pem] [--timeout SECONDS]")
    parser.add_argument("folder", nargs="?", metavar="PRODUCT_FOLDER", help="the product's files as installed")
    parser.add_argument("--product", required=True, metavar="NAME",
                        help="the product's name, as built into Install-NAME.exe")
    parser.add_argument("--out", metavar="SITE_FOLDER", help="the site folder to lay out")
    parser.add_argument("--include", action="append", default=[], metavar="PATTERN",
                        help="publish what the defaults leave out and PATTERN matches")
    parser.add_argument("--exclude", action="append", default=[], metavar="PATTERN",
                        help="leave out what PATTERN matches")
    parser.add_argument("--dry-run", action="store_true", help="print what would be laid out, change nothing")
    parser.add_argument("--release", type=release_number, metavar="N",
                        help="the release number (by default the site's, or one more when anything changed)")
    parser.add_argument("--force", action="store_true",
                        help="publish a release lower than the site's, or an unsigned site over a signed one")
    parser.add_argument("--sign-key", metavar="KEY.pem", help="sign the manifest with this EC P-256 private key")
    parser.add_argument("--check", metavar="http://HOST",
                        help="check the live site on HOST instead (or www.HOST, the build's site host)")
    parser.add_argument("--against", metavar="PRODUCT_FOLDER", help="with --check: compare with these files")
    parser.add_argument("--timeout", type=float, default=30, metavar="SECONDS",
                        help="with --check: how long a silent site is waited for (30, as the installer)")
    parser.add_argument("--key", metavar="PUBLIC.pem",
                        help="with --check: check the manifest's signature with this EC P-256 public key")
    args = parser.parse_args(argv)
    if args.check:
        if (args.folder or args.out or args.include or args.exclude or args.dry_run or args.release is not None
                or args.force or args.sign_key):
            parser.error("--check takes no PRODUCT_FOLDER, --out, --include, --exclude, --dry-run, --release, "
                         "--force or --sign-key (compare with --against, check the signature with --key)")
        if args.timeout <= 0:
            parser.error("--timeout takes a number of seconds above 0")
    else:
        if args.against:
            parser.error("--against goes with --check")
        if args.key:
            parser.error("--key goes with --check (a signature is made with --sign-key)")
        if not args.folder or not args.out:
            parser.error("PRODUCT_FOLDER and --out are needed to publish")
    try:
        if args.check:
            return check(args.check, args.product, args.against, args.timeout, args.key)
        print("publish: " + publish(args.folder, args.product, args.out, args.include, args.exclude, args.dry_run,
                                    args.release, args.force, args.sign_key))
        return 0
    except PublishError as error:
        for entry, why in error.refusals:
            print("publish: refused: %s: %s" % (shown(entry), why), file=sys.stderr)
        print("publish: %s" % error, file=sys.stderr)
    except OSError as error:
        where = " (%s)" % shown(str(error.filename)) if error.filename else ""
        print("publish: %s%s%s" % (error.strerror or error, where,
                                   "" if args.check else "; the site is as it was"), file=sys.stderr)
    except KeyboardInterrupt:
        print("publish: interrupted%s" % ("" if args.check else "; the site is as it was"), file=sys.stderr)
    return 1

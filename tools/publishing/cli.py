"""The command line: publish a product's folder, or check a live site."""
import argparse
import sys

from . import PublishError, shown
from .check import check
from .layout import publish

DESCRIPTION = """Lays out a product's web site for its installer (Install-<product>.exe), and
checks a live site the way the installer reads it."""

DETAILS = r"""
Publishing
  SITE_FOLDER/Updates/NAME/ gets every file of PRODUCT_FOLDER under its
  relative path, and the update manifest Resources\NAME.ini: a section
  [UpdateFiles] with one relative path a line ("\" between folders, CR LF
  line ends, code page 1251). Upload SITE_FOLDER to any static web server
  or CDN as it is; nothing runs on the server. Only Updates/NAME/ is
  replaced; nothing is written outside SITE_FOLDER. The same folder always
  gives the same bytes: the entries are sorted. Empty folders are not
  carried: the installer makes a folder only for a file in it.

  Order: the manifest lists itself first, then the product's program
  NAME.exe, then the rest. When a user updates while the product is
  running, its program cannot be replaced and the installer stops at that
  entry: with the program first, it stops before any other file has been
  replaced, and the product is not left half old, half new.

  A Resources\NAME.ini in PRODUCT_FOLDER (say, left by an earlier install)
  is left out with a note: the installer overwrites that file with the
  manifest, so the generated manifest wins.

  Refused, each offending file named, with nothing written:
    - a folder without NAME.exe;
    - names the installer refuses as unsafe: the device names CON, PRN,
      AUX, NUL, COM1-9, LPT1-9 with any extension (also "CON .txt"), ".."
      (also ".. "), ":", a leading "\" or "/";
    - names Windows cannot hold or changes: < > " | ? * \, control
      characters, a trailing dot or blank;
    - names that do not survive the URL: "%" (the server decodes it) and
      "#" (the rest is not sent);
    - names not representable in code page 1251: the installer reads the
      manifest as ANSI text;
    - a top-level name starting with "[": it would end the section;
    - a name that begins with Resources\NAME.ini: the installer skips it;
    - two names that differ only in letter case: on Windows they are one;
    - an empty file, or one over the installer's limit of 1024000000
      bytes: the installer takes either for a failed download.

  Names outside ASCII: the installer puts the code page 1251 bytes of an
  entry into the URL unescaped, and a web server looks the file up by those
  very bytes. So on Linux and macOS the site holds such a file under its
  code page 1251 bytes, not under its UTF-8 name (a UTF-8 name would never
  be found), and a warning names it. Upload with a tool that keeps file
  names as bytes (rsync, scp, tar); a server or CDN that insists on UTF-8
  names will not find these files. On Windows the site holds the ordinary
  name: a Windows server maps such bytes through the system's code page.

Checking
  --check reads http://HOST/Updates/NAME/Resources/NAME.ini as the
  installer does. The installer turns its site host www.HOST into
  http://HOST (every "www." becomes "http://"): an installer built with
  PRODUCT_SITE_HOST=www.pelmar.ru fetches from http://pelmar.ru, so the site
  must answer on that name. --check www.pelmar.ru applies the same rule. It
  reads the manifest (section [UpdateFiles], "\" sent as "/", the entry's bytes
  unescaped but for a blank, which WinINet sends as %20), fetches every listed file and reports each that is missing,
  answers other than 2xx, is cut off, empty, or refused by the installer.
  With --against it also reports files that differ in size or content from
  PRODUCT_FOLDER, and files listed on one side only. Exit status 0 only when
  the site would install cleanly.
"""


def main(argv=None):
    """Runs the command line; returns the exit status. Every PublishError
    ends as one "publish:" line on standard error, after its refusals."""
    parser = argparse.ArgumentParser(
        prog="publish", description=DESCRIPTION, epilog=DETAILS, formatter_class=argparse.RawDescriptionHelpFormatter,
        usage="%(prog)s PRODUCT_FOLDER --product NAME --out SITE_FOLDER\n"
              "       %(prog)s --check http://HOST --product NAME [--against PRODUCT_FOLDER]")
    parser.add_argument("folder", nargs="?", metavar="PRODUCT_FOLDER", help="the product's files as installed")
    parser.add_argument("--product", required=True, metavar="NAME",
                        help="the product's name, as built into Install-NAME.exe")
    parser.add_argument("--out", metavar="SITE_FOLDER", help="the site folder to lay out")
    parser.add_argument("--check", metavar="http://HOST",
                        help="check the live site on HOST instead (or www.HOST, the build's site host)")
    parser.add_argument("--against", metavar="PRODUCT_FOLDER", help="with --check: compare with these files")
    args = parser.parse_args(argv)
    if args.check:
        if args.folder or args.out:
            parser.error("--check takes no PRODUCT_FOLDER or --out (compare with --against)")
    else:
        if args.against:
            parser.error("--against goes with --check")
        if not args.folder or not args.out:
            parser.error("PRODUCT_FOLDER and --out are needed to publish")
    try:
        if args.check:
            try:
                return check(args.check, args.product, args.against)
            except KeyboardInterrupt:
                return 130
        print("publish: " + publish(args.folder, args.product, args.out))
        return 0
    except PublishError as error:
        for entry, why in error.refusals:
            print("publish: refused: %s: %s" % (shown(entry), why), file=sys.stderr)
        print("publish: %s" % error, file=sys.stderr)
        return 1

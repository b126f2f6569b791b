#!/usr/bin/env python3
"""tools/publish never reports success for a broken site, never takes a live
site down, and ends every failure with one line: the maker's own paths and
names, a kill at each step of the swap, the errors of a real disk, and what
is left out or refused before anything goes public."""
import os
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

from kit_support import ROOT, make_tree, run_publish, run_publish_as_nobody, tree

PROGRAM = b"MZ the product's program"
PRODUCT = {"Pelmar.exe": PROGRAM, "a.txt": b"a", "Data/b.txt": b"b" * 3000, "Data/c.txt": b"c"}
MANIFEST = b"Resources/Pelmar.ini"

# Runs the command line with some of the tool's steps replaced, as a kill or
# a Ctrl-C at that moment would: each NAME@N=ACTION replaces the function
# NAME of the site folder's code (or of os) and acts at its Nth call: kill (SIGKILL),
# interrupt (SIGINT, as Ctrl-C sends), refuse (returns False from then on).
DRIVER = r"""
import os, signal, sys
sys.path.insert(0, sys.argv[1])
from publishing import cli, site_folder
split = sys.argv.index("--")
for kill_point in sys.argv[2:split]:
    name, rest = kill_point.split("@")
    nth, action = rest.split("=")
    owner = site_folder if hasattr(site_folder, name) else os
    def hooked(*args, _original=getattr(owner, name), _nth=int(nth), _action=action, _calls=[0], **kwargs):
        _calls[0] += 1
        if _calls[0] >= _nth and _action == "refuse":
            return False
        if _calls[0] == _nth and _action == "kill":
            os.kill(os.getpid(), signal.SIGKILL)
        if _calls[0] == _nth and _action == "interrupt":
            os.kill(os.getpid(), signal.SIGINT)
        return _original(*args, **kwargs)
    setattr(owner, name, hooked)
sys.exit(cli.main(sys.argv[split + 1:]))
"""


def run_with_steps(steps, *args):
    return subprocess.run([sys.executable, "-c", DRIVER, os.path.join(ROOT, "tools"), *steps, "--", *args],
                          capture_output=True, text=True, timeout=120)


def site_tree(site, product="Pelmar"):
    base = os.path.join(site, "Updates", product)
    return tree(base) if os.path.isdir(base) else None


class TempFolder(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="publish-safety-")
        # Readable by the ordinary user some cases run as.
        os.chmod(self.temp, 0o755)
        self.addCleanup(shutil.rmtree, self.temp, ignore_errors=True)
        self.product = os.path.join(self.temp, "product")
        self.site = os.path.join(self.temp, "site")
        make_tree(self.product, PRODUCT)

    def publish(self, *more, **kwargs):
        return run_publish(self.product, "--product", "Pelmar", "--out", self.site, *more, **kwargs)

    def publish_as_nobody(self, *more):
        result = run_publish_as_nobody(self.product, "--product", "Pelmar", "--out", self.site, *more)
        if result is None:
            self.skipTest("no Python that an ordinary user may start")
        return result

    def assertOneLineFailure(self, result, status=1):
        """Exit status, no traceback, and every line the tool's own."""
        self.assertEqual(result.returncode, status, result.stdout + result.stderr)
        self.assertNotIn("Traceback", result.stderr)
        for line in result.stderr.splitlines():
            self.assertRegex(line, r"^(publish: |usage: |\s)", result.stderr)


class PathsAndNames(TempFolder):
    OUT_NAMES = ["site", "сайт", "café"]
    PRODUCT_NAMES = [("Pelmar", None), ("Пелмар", "not ASCII"), ("Pelmár", "not ASCII")]

    def test_the_site_goes_exactly_under_out_whatever_its_name(self):
        expected = {os.path.join(b"Updates", b"Pelmar", os.fsencode(os.path.join(*k.split("/")))): v
                    for k, v in PRODUCT.items()}
        for name in self.OUT_NAMES:
            with self.subTest(out=name):
                out = os.path.join(self.temp, name)
                result = run_publish(self.product, "--product", "Pelmar", "--out", out)
                self.assertEqual(result.returncode, 0, result.stderr)
                site = tree(out)
                site.pop(os.path.join(b"Updates", b"Pelmar", MANIFEST.replace(b"/", os.sep.encode())))
                self.assertEqual(site, expected)
                self.assertEqual(sorted(os.listdir(self.temp)), sorted(["product", name]))
                shutil.rmtree(out)

    def test_a_product_name_outside_ascii_is_refused_and_nothing_is_written(self):
        for name, refusal in self.PRODUCT_NAMES:
            with self.subTest(product=name):
                folder = os.path.join(self.temp, "product-" + name)
                make_tree(folder, dict(PRODUCT, **{name + ".exe": PROGRAM}))
                if name != "Pelmar":
                    os.remove(os.path.join(folder, "Pelmar.exe"))
                result = run_publish(folder, "--product", name, "--out", self.site)
                if refusal is None:
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(os.listdir(os.path.join(self.site, "Updates")), [name])
                    shutil.rmtree(self.site)
                else:
                    self.assertOneLineFailure(result)
                    self.assertIn(refusal, result.stderr)
                    self.assertFalse(os.path.exists(self.site))


class KillPoints(TempFolder):
    # Each case: the steps replaced, and what the web server finds right after
    # the kill ("old", "new", or None while the next run has to restore it).
    CASES = [
        ("mid-copy", ["copy_file@2=kill"], "old"),
        ("at the swap", ["exchange@1=kill"], "old"),
        ("during the old tree's removal", ["unlink@2=kill"], "new"),
        ("between the two renames where folders cannot be swapped at once",
         ["exchange@1=refuse", "rename@2=kill"], None),
        ("during the old tree's removal where folders cannot be swapped at once",
         ["exchange@1=refuse", "unlink@2=kill"], "new"),
    ]

    def test_a_kill_leaves_a_whole_site_and_the_next_run_finishes_the_job(self):
        for case, steps, live in self.CASES:
            with self.subTest(case):
                shutil.rmtree(self.site, ignore_errors=True)
                make_tree(self.product, PRODUCT)
                self.assertEqual(self.publish().returncode, 0)
                old = site_tree(self.site)
                make_tree(self.product, {"a.txt": b"version 2", "Data/new.txt": b"new"})
                killed = run_with_steps(steps, self.product, "--product", "Pelmar", "--out", self.site)
                self.assertEqual(killed.returncode, -9, killed.stderr)
                after_kill = site_tree(self.site)

                result = self.publish()
                self.assertEqual(result.returncode, 0, result.stderr)
                new = site_tree(self.site)
                self.assertEqual(new[b"a.txt"], b"version 2")
                self.assertEqual({"old": old, "new": new, None: None}[live], after_kill)
                self.assertEqual(os.listdir(os.path.join(self.site, "Updates")), ["Pelmar"])
                os.remove(os.path.join(self.product, "Data", "new.txt"))

    @unittest.skipUnless(sys.platform.startswith("linux"), "Linux swaps two folders in one step")
    def test_on_linux_the_live_site_is_never_renamed_away(self):
        self.assertEqual(self.publish().returncode, 0)
        make_tree(self.product, {"a.txt": b"version 2"})
        result = run_with_steps(["rename@1=kill"], self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(site_tree(self.site)[b"a.txt"], b"version 2")

    def test_a_site_missing_after_a_kill_is_restored_before_anything_is_removed(self):
        self.assertEqual(self.publish().returncode, 0)
        old = site_tree(self.site)
        make_tree(self.product, {"a.txt": b"version 2"})
        between = ["exchange@1=refuse", "rename@2=kill"]
        self.assertEqual(run_with_steps(between, self.product, "--product", "Pelmar", "--out", self.site).returncode, -9)
        self.assertIsNone(site_tree(self.site))
        # The next run is killed at the first file it removes.
        killed = run_with_steps(["unlink@1=kill"], self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(killed.returncode, -9, killed.stderr)
        self.assertEqual(site_tree(self.site), old)


def capped():
    """For preexec_fn: no file may grow past 50000 bytes, as on a full disk."""
    resource.setrlimit(resource.RLIMIT_FSIZE, (50000, 50000))


class Errors(TempFolder):
    """Each case: how it sets up the fault (and whether the tool then runs as
    an ordinary user, since root reads everything, or with a cap on file
    sizes), the options, and the line the tool must print."""

    def cap_file_size(self):
        make_tree(self.product, {"Data/big.bin": b"x" * 100000})
        return False

    def unreadable_file(self):
        make_tree(self.product, {"secret.txt": b"secret"})
        self.chmod(os.path.join(self.product, "secret.txt"), 0o000, 0o644)
        return True

    def unreadable_folder(self):
        make_tree(self.product, {"Private/notes.txt": b"notes"})
        self.chmod(os.path.join(self.product, "Private"), 0o000, 0o755)
        return True

    def site_not_writable(self):
        self.chmod(os.path.join(self.site, "Updates"), 0o555, 0o755)
        return True

    def chmod(self, path, mode, back):
        os.chmod(path, mode)
        self.restore.append((path, back))

    CASES = [
        ("a file over the disk's size cap", cap_file_size, (),
         "publish: cannot lay out Data\\big.bin: File too large; the site is as it was"),
        ("an unreadable file", unreadable_file, (), "publish: refused: secret.txt: cannot be read: Permission denied"),
        ("an unreadable folder", unreadable_folder, (), "publish: refused: Private: cannot be read: Permission denied"),
        ("a site folder it may not write", site_not_writable, (), "Permission denied"),
    ]

    def test_each_error_is_one_line_and_the_old_site_stays(self):
        for case, setup, options, line in self.CASES:
            with self.subTest(case):
                for path, mode in getattr(self, "restore", []):
                    os.chmod(path, mode)
                self.restore = []
                shutil.rmtree(self.product)
                make_tree(self.product, PRODUCT)
                shutil.rmtree(self.site, ignore_errors=True)
                self.assertEqual(self.publish().returncode, 0)
                before = tree(self.site)
                nobody = setup(self)
                result = self.publish_as_nobody(*options) if nobody else self.publish(*options, preexec_fn=capped)
                self.assertOneLineFailure(result)
                self.assertIn(line, result.stderr)
                self.assertEqual(tree(self.site), before)
                self.assertEqual(os.listdir(os.path.join(self.site, "Updates")), ["Pelmar"])

    def test_a_full_disk_is_one_line_and_the_old_site_stays(self):
        disk = os.environ.get("SMALL_DISK", "")
        if not disk or not os.path.ismount(disk):
            self.skipTest("no small disk mounted (SMALL_DISK; mounting needs root)")
        self.site = tempfile.mkdtemp(prefix="site-", dir=disk)
        self.addCleanup(shutil.rmtree, self.site, ignore_errors=True)
        self.assertEqual(self.publish().returncode, 0)
        before = tree(self.site)
        make_tree(self.product, {"Data/big.bin": b"x" * (2 << 20)})
        result = self.publish()
        self.assertOneLineFailure(result)
        self.assertIn("publish: cannot lay out Data\\big.bin: No space left on device; the site is as it was",
                      result.stderr)
        self.assertEqual(tree(self.site), before)
        self.assertEqual(os.listdir(os.path.join(self.site, "Updates")), ["Pelmar"])

    def test_ctrl_c_while_laying_out_is_one_line_and_the_old_site_stays(self):
        self.assertEqual(self.publish().returncode, 0)
        before = tree(self.site)
        make_tree(self.product, {"a.txt": b"version 2"})
        result = run_with_steps(["copy_file@2=interrupt"], self.product, "--product", "Pelmar", "--out", self.site)
        self.assertOneLineFailure(result)
        self.assertIn("publish: interrupted; the site is as it was", result.stderr)
        self.assertEqual(tree(self.site), before)

    # A wrong command line exits 2, as the argument parser does.
    COMMAND_LINES = [
        ("out names a file", lambda t: (t.product, "--product", "Pelmar", "--out", os.path.join(t.product, "a.txt")),
         1, "is not a folder"),
        ("no such product folder", lambda t: (os.path.join(t.temp, "none"), "--product", "Pelmar", "--out", t.site),
         1, "is not a folder"),
        ("against without check", lambda t: (t.product, "--product", "Pelmar", "--out", t.site, "--against", "x"),
         2, "--against goes with --check"),
        ("key without check", lambda t: (t.product, "--product", "Pelmar", "--out", t.site, "--key", "x.pem"),
         2, "--key goes with --check (a signature is made with --sign-key)"),
        ("sign-key or release with check", lambda t: ("--check", "http://127.0.0.1:9", "--product", "Pelmar",
                                                      "--sign-key", "x.pem", "--release", "2"),
         2, "--check takes no PRODUCT_FOLDER, --out, --include, --exclude, --dry-run, --release, --force or "
            "--sign-key"),
        ("no out", lambda t: (t.product, "--product", "Pelmar"), 2, "PRODUCT_FOLDER and --out are needed"),
        ("an option it does not know", lambda t: ("--product", "Pelmar", "--colour"), 2, "unrecognized arguments"),
    ]

    def test_each_wrong_command_line_is_one_line_and_writes_nothing(self):
        for case, args, status, line in self.COMMAND_LINES:
            with self.subTest(case):
                result = run_publish(*args(self))
                self.assertOneLineFailure(result, status)
                self.assertIn(line, result.stderr)
                self.assertFalse(os.path.exists(self.site))


class LeftOutOrRefused(TempFolder):
    """Each case: the files added to the product (a str value is a link to
    that path), the options, and the entries the manifest must list beyond
    the product's, or the line the tool must print."""

    LONG = "Data\\" + "x" * 190 + "\\" + "y" * 44
    CASES = [
        ("a link to a file outside", {"hostname": "/etc/hostname"}, (), None,
         "refused: hostname: a link to /etc/hostname, outside the product folder"),
        ("a link to a file inside", {"copy.txt": "a.txt"}, (), ["copy.txt"], None),
        ("version control", {".git/config": b"[core]", ".git/HEAD": b"ref", ".svn/entries": b"1", "CVS/Root": b"r"},
         (), [], "note: left out, as version control or desktop files: .git, .svn, CVS"),
        ("desktop and editor files", {"Thumbs.db": b"t", ".DS_Store": b"d", "Data/~$lock.doc": b"l",
                                      "desktop.ini": b"i", "a.txt~": b"b", ".env": b"e"},
         (), [], "note: left out, as version control or desktop files: .DS_Store, .env, a.txt~, Data\\~$lock.doc, "
                 "desktop.ini, Thumbs.db"),
        ("one kept with --include", {".env": b"e", ".git/HEAD": b"ref"}, ("--include", ".env"), [".env"],
         "note: left out, as version control or desktop files: .git ("),
        ("more left out with --exclude", {"debug.log": b"l", "Data/trace.log": b"t", "Data/keep.txt": b"k"},
         ("--exclude", "*.log"), ["Data\\keep.txt"], None),
        ("a path by --exclude", {"Data/old/x.txt": b"x"}, ("--exclude", "Data/old"), [], None),
        ("a long entry", {LONG.replace("\\", "/"): b"x"}, (), [LONG],
         "warning: %s is 240 characters: a destination folder longer than 18 characters" % LONG),
        ("an entry past the path limit", {LONG.replace("\\", "/") + "z": b"x"}, (), None,
         "refused: %sz: is 241 characters: in the proposed destination C:\\Programs\\Pelmar its path is 260" % LONG),
    ]

    def test_each_case_is_published_as_shown_or_refused(self):
        for case, files, options, listed, line in self.CASES:
            with self.subTest(case):
                shutil.rmtree(self.product)
                shutil.rmtree(self.site, ignore_errors=True)
                make_tree(self.product, PRODUCT)
                make_tree(self.product, {k: v for k, v in files.items() if isinstance(v, bytes)})
                for link, target in ((k, v) for k, v in files.items() if isinstance(v, str)):
                    os.symlink(target, os.path.join(self.product, link))
                result = self.publish(*options)
                if line:
                    self.assertIn("publish: " + line, result.stderr)
                if listed is None:
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertFalse(os.path.exists(self.site))
                    continue
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(os.path.join(self.site, "Updates", "Pelmar", "Resources", "Pelmar.ini"), "rb") as f:
                    entries = f.read().decode("cp1251").split("\r\n[FileHashes]\r\n")[0].split("\r\n")[2:]
                self.assertEqual(sorted(entries), sorted(["Pelmar.exe", "a.txt", "Data\\b.txt", "Data\\c.txt"] + listed))

    def test_a_product_name_in_another_letter_case_than_the_program_is_refused(self):
        result = run_publish(self.product, "--product", "pelmar", "--out", self.site)
        self.assertOneLineFailure(result)
        self.assertIn("refused: Pelmar.exe: differs in letter case from --product pelmar", result.stderr)
        self.assertFalse(os.path.exists(self.site))

    def test_files_dropped_since_the_last_publish_are_named(self):
        make_tree(self.product, {"gone.txt": b"g", "Data/gone too.txt": b"g"})
        self.assertEqual(self.publish().returncode, 0)
        os.remove(os.path.join(self.product, "gone.txt"))
        os.remove(os.path.join(self.product, "Data", "gone too.txt"))
        result = self.publish()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("warning: no longer published, but left on the users' machines (the installer deletes "
                      "nothing): Data\\gone too.txt, gone.txt", result.stderr)
        self.assertNotIn("no longer published", self.publish().stderr)

    def test_a_dry_run_prints_the_entries_and_changes_nothing(self):
        for existing in (False, True):
            with self.subTest(site_before=existing):
                if existing:
                    self.assertEqual(self.publish().returncode, 0)
                before = tree(self.temp)
                result = self.publish("--dry-run")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout.splitlines()[:-1],
                                 ["Resources\\Pelmar.ini", "Pelmar.exe", "a.txt", "Data\\b.txt", "Data\\c.txt"])
                self.assertIn("dry run, nothing written", result.stdout)
                self.assertEqual(tree(self.temp), before)

    def test_the_site_is_readable_by_all_whatever_the_source_modes(self):
        make_tree(self.product, {"Private/secret.txt": b"s"})
        os.chmod(os.path.join(self.product, "a.txt"), 0o600)
        os.chmod(os.path.join(self.product, "Private"), 0o700)
        result = self.publish(preexec_fn=lambda: os.umask(0o077))
        self.assertEqual(result.returncode, 0, result.stderr)
        for parent, folders, names in os.walk(self.site):
            for name in folders:
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(parent, name)).st_mode), 0o755, name)
            for name in names:
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(parent, name)).st_mode), 0o644, name)


if __name__ == "__main__":
    unittest.main()

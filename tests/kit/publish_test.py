#!/usr/bin/env python3
"""tools/publish: the site it lays out, what it refuses, and --check against
the loopback test site (tests/site/site_server.py) with programmed faults."""
import http.server
import os
import pty
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from kit_support import PUBLISH, ROOT, make_tree, run_publish, run_publish_as_nobody, tree

sys.path.insert(0, os.path.join(ROOT, "tools"))
from publishing import rules, shown  # noqa: E402

SITE_SERVER = os.path.join(ROOT, "tests", "site", "site_server.py")
ENTRY_TABLE = os.path.join(ROOT, "tests", "data", "manifest_entries.tsv")
PROGRAM = b"MZ the product's program"


def entry_table():
    """The manifest entries the installer's tests judge too: (line, entry,
    installer's verdict, publish's verdict, why) for each row."""
    rows = []
    with open(ENTRY_TABLE, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            entry, installer, verdict, why = line.split("\t")
            entry = re.sub(r"\{([0-9A-Fa-f]{2})\}", lambda m: chr(int(m.group(1), 16)), entry)
            assert installer in ("safe", "unsafe") and verdict in ("ok", "refused"), "line %d" % number
            rows.append((number, entry, installer, verdict, why))
    return rows


def as_product_file(entry):
    """The relative path ("/" between folders) of a product file that
    publish takes for entry, or None when this system cannot hold one. On
    Unix a "\\" that cannot separate folders here stays in the name."""
    if "/" in entry or "\0" in entry or entry in ("", ".", ".."):
        return None
    segments = entry.split("\\")
    if all(s not in ("", ".", "..") for s in segments):
        return "/".join(segments)
    return entry if os.sep == "/" else None


class TempFolder(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp(prefix="publish-test-")
        self.addCleanup(shutil.rmtree, self.temp, ignore_errors=True)
        self.product = os.path.join(self.temp, "product")
        self.site = os.path.join(self.temp, "site")


class PublishLayout(TempFolder):
    FILES = {
        "Pelmar.exe": PROGRAM,
        "b.txt": b"b\n",
        "a.txt": b"a\r\n",
        "Sub/z.dat": b"\x00\x01\x02",
        "Sub/Deeper/c.bin": b"c" * 5000,
        "Resources/settings.ini": b"[Main]\r\n",
    }
    MANIFEST = (b"[UpdateFiles]\r\n"
                b"Resources\\Pelmar.ini\r\n"
                b"Pelmar.exe\r\n"
                b"a.txt\r\n"
                b"b.txt\r\n"
                b"Resources\\settings.ini\r\n"
                b"Sub\\Deeper\\c.bin\r\n"
                b"Sub\\z.dat\r\n")

    def publish(self):
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def test_lays_out_every_file_and_a_manifest_listing_itself_then_the_program(self):
        make_tree(self.product, self.FILES)
        self.publish()
        expected = {os.fsencode(os.path.join(*k.split("/"))): v for k, v in self.FILES.items()}
        expected[os.path.join(b"Resources", b"Pelmar.ini")] = self.MANIFEST
        self.assertEqual(tree(self.site), {os.path.join(b"Updates", b"Pelmar", k): v for k, v in expected.items()})

    def test_a_second_run_gives_the_same_bytes_and_drops_files_gone_from_the_folder(self):
        make_tree(self.product, dict(self.FILES, **{"gone.txt": b"soon gone"}))
        self.publish()
        os.remove(os.path.join(self.product, "gone.txt"))
        self.publish()
        first = tree(self.site)
        self.publish()
        self.assertEqual(tree(self.site), first)
        self.assertNotIn(os.path.join(b"Updates", b"Pelmar", b"gone.txt"), first)
        self.assertEqual(os.listdir(os.path.join(self.site, "Updates")), ["Pelmar"])

    def test_leaves_the_rest_of_the_site_alone(self):
        make_tree(self.product, self.FILES)
        make_tree(self.site, {"index.html": b"<p>Pelmar</p>", "Updates/Zunt/Zunt.exe": b"MZ zunt"})
        self.publish()
        site = tree(self.site)
        self.assertEqual(site[b"index.html"], b"<p>Pelmar</p>")
        self.assertEqual(site[os.path.join(b"Updates", b"Zunt", b"Zunt.exe")], b"MZ zunt")

    def test_a_manifest_in_the_folder_gives_way_to_the_generated_one(self):
        make_tree(self.product, dict(self.FILES, **{"Resources/Pelmar.ini": b"[UpdateFiles]\r\nold.txt\r\n"}))
        result = self.publish()
        self.assertIn("Resources\\Pelmar.ini is left out", result.stderr)
        with open(os.path.join(self.site, "Updates", "Pelmar", "Resources", "Pelmar.ini"), "rb") as f:
            self.assertEqual(f.read(), self.MANIFEST)

    def test_a_name_outside_ascii_lies_on_the_site_under_its_code_page_1251_bytes(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM, "Данные/отчёт.txt": b"report"})
        result = self.publish()
        self.assertIn("warning: Данные\\отчёт.txt is not ASCII", result.stderr)
        site = tree(self.site)
        name = "Данные/отчёт.txt".encode("cp1251")
        self.assertEqual(site[b"Updates/Pelmar/" + name], b"report")
        self.assertIn(b"\r\n" + name.replace(b"/", b"\\") + b"\r\n",
                      site[b"Updates/Pelmar/Resources/Pelmar.ini"])

    def test_never_lays_out_the_site_inside_the_product_or_the_product_inside_the_site(self):
        inner = os.path.join(self.site, "Updates", "Pelmar", "src")
        for product, out in ((self.product, os.path.join(self.product, "site")), (inner, self.site)):
            with self.subTest(out=out):
                make_tree(product, self.FILES)
                before = tree(self.temp)
                result = run_publish(product, "--product", "Pelmar", "--out", out)
                self.assertEqual(result.returncode, 1)
                self.assertRegex(result.stderr, "inside the product folder|overlap")
                self.assertEqual(tree(self.temp), before)


class PublishRefuses(TempFolder):
    # Each case: the files it adds to a good product folder, and the refusal
    # that must name it. None as the content removes the file. What publish
    # makes of a single entry is in the table of entries (EntryTable).
    CASES = [
        ("backslash inside a name", {"a\\b.txt": b"x"}, "a\\b.txt: holds \"\\\""),
        ("letter case only", {"Readme.txt": b"x", "README.txt": b"y"},
         "README.txt: differs only in letter case from Readme.txt"),
        ("file and folder in letter case only", {"data": b"x", "Data/a.txt": b"y"},
         "data: differs only in letter case from the folder Data"),
        ("no program", {"Pelmar.exe": None}, "Pelmar.exe: missing"),
        ("program in a subfolder only", {"Pelmar.exe": None, "bin/Pelmar.exe": PROGRAM}, "Pelmar.exe: missing"),
        ("begins with the manifest's path", {"Resources/Pelmar.ini.bak": b"x"},
         "Resources\\Pelmar.ini.bak: begins with Resources\\Pelmar.ini"),
        ("empty file", {"empty.txt": b""}, "empty.txt: is empty"),
    ]

    def assertRefused(self, files, refusal, *options):
        """A good product folder with files added (None removes one) is
        refused with the line refusal, and nothing is written."""
        shutil.rmtree(self.product, ignore_errors=True)
        make_tree(self.product, {"Pelmar.exe": PROGRAM, "ok.txt": b"fine"})
        for relative, data in files.items():
            if data is None:
                os.remove(os.path.join(self.product, *relative.split("/")))
        make_tree(self.product, {k: v for k, v in files.items() if v is not None})
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site, *options)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("publish: refused: " + refusal, result.stderr)
        self.assertIn("nothing written", result.stderr)
        self.assertFalse(os.path.exists(self.site))

    def test_each_refusal_names_the_file_and_writes_nothing(self):
        for case, files, refusal in self.CASES:
            with self.subTest(case):
                self.assertRefused(files, refusal)

    def test_each_refused_entry_of_the_table_is_named_with_its_reason(self):
        for number, entry, _, verdict, why in entry_table():
            relative = as_product_file(entry)
            if verdict == "refused" and relative is not None:
                with self.subTest(line=number, entry=entry):
                    # Nothing left out by default: the rules alone refuse it.
                    self.assertRefused({relative: b"x"}, "%s: %s\n" % (shown(entry), why), "--include", "*")

    def test_every_accepted_entry_of_the_table_is_laid_out_and_listed(self):
        files = {as_product_file(e): b"x" for _, e, _, verdict, _ in entry_table() if verdict == "ok"}
        files = {k: v for k, v in files.items() if k is not None and "\\" not in k}
        make_tree(self.product, files)
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site, "--include", "*")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.site, "Updates", "Pelmar", "Resources", "Pelmar.ini"), "rb") as f:
            listed = f.read().decode("cp1251").split("\r\n")
        for relative in files:
            self.assertIn(relative.replace("/", "\\"), listed)


    def test_names_every_refused_file_and_keeps_the_old_site(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        self.assertEqual(run_publish(self.product, "--product", "Pelmar", "--out", self.site).returncode, 0)
        before = tree(self.site)
        make_tree(self.product, {"prn.txt": b"x", "Data/a:b": b"y"})
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(result.returncode, 1)
        self.assertIn("refused: prn.txt:", result.stderr)
        self.assertIn("refused: Data\\a:b:", result.stderr)
        self.assertIn("2 problems", result.stderr)
        self.assertEqual(tree(self.site), before)

    def test_refuses_a_product_name_that_is_no_folder_name(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        for name in ("../Pelmar", "Con", "a:b"):
            with self.subTest(name):
                result = run_publish(self.product, "--product", name, "--out", self.site)
                self.assertEqual(result.returncode, 1)
                self.assertIn("the product name", result.stderr)
                self.assertFalse(os.path.exists(self.site))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class EntryTable(unittest.TestCase):
    def test_the_rules_give_each_entry_both_verdicts_and_the_reason(self):
        rows = entry_table()
        self.assertTrue(any(r[2] == "unsafe" for r in rows) and any(r[3] == "ok" for r in rows))
        for number, entry, installer, verdict, why in rows:
            with self.subTest(line=number, entry=entry):
                faults = rules.entry_faults(entry)
                # Publish refuses whatever the installer stops at.
                self.assertEqual(any(kind == rules.UNSAFE for kind, _ in faults), installer == "unsafe", faults)
                self.assertEqual(bool(faults), verdict == "refused", faults)
                if faults:
                    self.assertIn(why, [text for _, text in faults])


class Check(unittest.TestCase):
    """One test site for all cases: each case is a product of its own."""

    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="publish-check-")
        cls.site = os.path.join(cls.temp, "site")
        os.makedirs(cls.site)
        port_file = os.path.join(cls.temp, "port")
        cls.requests = os.path.join(cls.temp, "requests.log")
        cls.server = subprocess.Popen([sys.executable, SITE_SERVER, "--root", cls.site, "--port", "0",
                                       "--port-file", port_file, "--log", cls.requests],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            cls.url = "http://127.0.0.1:%s" % f.read().strip()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.server.wait()
        shutil.rmtree(cls.temp, ignore_errors=True)

    def published(self, product):
        """A product folder published to the test site; returns the folder."""
        folder = os.path.join(self.temp, "products", product)
        make_tree(folder, {product + ".exe": PROGRAM, "Data/big.bin": bytes(range(256)) * 40,
                           "readme.txt": b"read me\r\n", "Read me too.txt": b"a blank in the name"})
        result = run_publish(folder, "--product", product, "--out", self.site)
        self.assertEqual(result.returncode, 0, result.stderr)
        return folder

    def on_site(self, product, relative):
        return os.path.join(self.site, "Updates", product, *relative.split("/"))

    def check(self, product, *more):
        return run_publish("--check", self.url, "--product", product, *more)

    def test_a_clean_site_passes(self):
        folder = self.published("Clean")
        # The site host as the build has it names the same site.
        build_host = self.url.replace("http://", "www.")
        for url, more in ((self.url, ()), (self.url, ("--against", folder)), (build_host, ())):
            with self.subTest(url=url, more=more):
                result = run_publish("--check", url, "--product", "Clean", *more)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("would install cleanly: the manifest and 4 files", result.stdout)

    def test_a_body_without_a_length_is_whole_when_the_connection_closes(self):
        self.published("Closing")
        with open(self.on_site("Closing", "Data/big.bin") + ".fault", "w") as f:
            f.write("close\n")
        result = self.check("Closing")
        self.assertEqual(result.returncode, 0, result.stdout)

    # Each case: what it does to the published site or the local folder, and
    # the line the check must print.
    FAULTS = [
        ("missing file", lambda t, p, f: os.remove(t.on_site(p, "readme.txt")), "readme.txt: missing (404)"),
        ("404", lambda t, p, f: t.fault(p, "Data/big.bin", "status 404"), "Data\\big.bin: missing (404)"),
        ("server error", lambda t, p, f: t.fault(p, "readme.txt", "status 503"), "readme.txt: answered 503"),
        ("cut off", lambda t, p, f: t.fault(p, "Data/big.bin", "truncate 100"),
         "Data\\big.bin: cut off: 100 of 10240 bytes"),
        ("announced longer", lambda t, p, f: t.fault(p, "readme.txt", "length 5000"),
         "readme.txt: cut off: 9 of 5000 bytes"),
        ("changed content", lambda t, p, f: make_tree(f, {"readme.txt": b"READ ME\r\n"}),
         "readme.txt: differs in content from the product folder"),
        ("changed size", lambda t, p, f: make_tree(f, {"Data/big.bin": b"smaller"}),
         "Data\\big.bin: differs in size: 10240 bytes on the site, 7 in the product folder"),
        ("not published", lambda t, p, f: make_tree(f, {"new.txt": b"new"}),
         "new.txt: in the product folder but not listed on the site"),
        ("no manifest", lambda t, p, f: os.remove(t.on_site(p, "Resources/%s.ini" % p)),
         "Resources\\%s.ini: missing (404)"),
        ("manifest with one entry", lambda t, p, f: make_tree(t.site, {
            "Updates/%s/Resources/%s.ini" % (p, p): b"[UpdateFiles]\r\n%s.exe\r\n" % p.encode()}),
         "Resources\\%s.ini: has no [UpdateFiles] section with at least 2 entries"),
        ("unsafe entry", lambda t, p, f: make_tree(t.site, {
            "Updates/%s/Resources/%s.ini" % (p, p):
                b"[UpdateFiles]\r\n%s.exe\r\n..\\x.txt\r\nData\\big.bin\r\nreadme.txt\r\nRead me too.txt\r\n"
                % p.encode()}),
         "..\\x.txt: has a \"..\" segment"),
    ]

    def fault(self, product, relative, directive):
        with open(self.on_site(product, relative) + ".fault", "w") as f:
            f.write(directive + "\n")

    def test_each_fault_is_reported_and_fails_the_check(self):
        for number, (case, spoil, line) in enumerate(self.FAULTS):
            with self.subTest(case):
                product = "Fault%d" % number
                folder = self.published(product)
                spoil(self, product, folder)
                result = self.check(product, "--against", folder)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(line.replace("%s", product), result.stdout)
                self.assertIn("would not install cleanly: 1 problem\n", result.stdout)

    def test_reports_each_entry_the_installer_refuses_and_fetches_none(self):
        self.published("Refusing")
        unsafe = [e for _, e, installer, _, _ in entry_table() if installer == "unsafe"]
        make_tree(self.site, {"Updates/Refusing/Resources/Refusing.ini": "".join(
            line + "\r\n" for line in ["[UpdateFiles]", "Refusing.exe"] + unsafe).encode("cp1251")})
        result = self.check("Refusing")
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("would not install cleanly: %d problems\n" % len(unsafe), result.stdout)
        for entry in unsafe:
            with self.subTest(entry=entry):
                self.assertRegex(result.stdout, "(?m)^%s: .*the installer refuses it as unsafe$" % re.escape(entry))
        with open(self.requests, "rb") as f:
            asked = [line for line in f.read().splitlines() if b"/Updates/Refusing/" in line]
        self.assertEqual(asked, [b"/Updates/Refusing/Resources/Refusing.ini", b"/Updates/Refusing/Refusing.exe"])

    def manifest(self, product, entries):
        make_tree(self.site, {"Updates/%s/Resources/%s.ini" % (product, product):
                              "".join(e + "\r\n" for e in ["[UpdateFiles]"] + entries).encode("cp1251")})

    LISTED = ["%s.exe", "Data\\big.bin", "Read me too.txt", "readme.txt"]
    LONG = "x" * 250

    # Each case: what it does to the published site (or the options), and
    # the line the check must print where the installer would fail.
    INSTALLER_FAULTS = [
        ("program not listed", lambda t, p: t.manifest(p, ["readme.txt", "Data\\big.bin"]), (),
         "Resources\\%s.ini: %s.exe is not listed: the installer installs the rest and then has no program"),
        ("program listed last", lambda t, p: t.manifest(p, ["readme.txt", "Data\\big.bin", p + ".exe"]), (),
         "Resources\\%s.ini: %s.exe is listed after 2 other files: an update while the product runs replaces "
         "them before it stops at the program"),
        ("an entry with /", lambda t, p: t.manifest(p, [p + ".exe", "Data/big.bin"]), (),
         "Data/big.bin: holds \"/\": the installer makes folders only for \"\\\""),
        ("two entries in letter case only", lambda t, p: t.manifest(p, [p + ".exe", "readme.txt", "README.TXT"]), (),
         "README.TXT: differs only in letter case from readme.txt, listed before it: on Windows they are one file"),
        ("an entry past the path limit", lambda t, p: t.manifest(p, [p + ".exe", t.LONG]), (),
         LONG + ": is 250 characters: in the proposed destination C:\\Programs\\%s its path is"),
        ("a file over the copy limit", lambda t, p: t.fault(p, "Data/big.bin", "length 2000000000"), (),
         "Data\\big.bin: is over 1024000000 bytes: the installer fetches at most 1024000000"),
        ("a body that stalls after 10 bytes", lambda t, p: t.fault(p, "Data/big.bin", "stall body 10"),
         ("--timeout", "1"), "Data\\big.bin: cut off after 10 bytes: nothing more for 1 seconds"),
    ]

    def test_each_case_the_installer_fails_on_fails_the_check(self):
        for number, (case, spoil, options, line) in enumerate(self.INSTALLER_FAULTS):
            with self.subTest(case):
                product = "Installer%d" % number
                self.published(product)
                spoil(self, product)
                result = self.check(product, *options)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(line.replace("%s", product), result.stdout)
                self.assertIn("would not install cleanly: 1 problem\n", result.stdout)

    def test_a_product_folder_that_is_not_there_is_one_error(self):
        self.published("Against")
        result = self.check("Against", "--against", os.path.join(self.temp, "NoSuchFolder"))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr.splitlines(), ["publish: --against %s is not a folder"
                                                      % os.path.join(self.temp, "NoSuchFolder")])

    def test_each_unreadable_file_or_folder_of_the_product_folder_is_named(self):
        folder = self.published("Unreadable")
        make_tree(folder, {"Private/notes.txt": b"n"})
        # An ordinary user gets to the folder, but not into these.
        for path in (self.temp, os.path.dirname(folder), folder):
            os.chmod(path, 0o755)
        for path in ("readme.txt", "Private", "Data"):
            os.chmod(os.path.join(folder, path), 0)
            self.addCleanup(os.chmod, os.path.join(folder, path), 0o755)
        result = run_publish_as_nobody("--check", self.url, "--product", "Unreadable", "--against", folder)
        if result is None:
            self.skipTest("no Python that an ordinary user may start")
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        for line in ("readme.txt: cannot be read in the product folder: Permission denied",
                     "Data\\big.bin: cannot be read in the product folder: Permission denied",
                     "Private: cannot be read in the product folder: Permission denied",
                     "Data: cannot be read in the product folder: Permission denied"):
            self.assertIn(line + "\n", result.stdout)
        self.assertIn("would not install cleanly: 4 problems", result.stdout)

    def test_a_product_name_with_a_blank_is_fetched_as_the_installer_asks(self):
        folder = self.published("Blank Name")
        result = self.check("Blank Name", "--against", folder)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_redirects_are_followed_and_shown(self):
        folder = self.published("Moved")
        site_port = int(self.url.rsplit(":", 1)[1])

        class Redirect(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(301)
                self.send_header("Location", "http://127.0.0.1:%d%s" % (site_port, self.path))
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Redirect)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        result = run_publish("--check", "http://127.0.0.1:%d" % server.server_port, "--product", "Moved",
                             "--against", folder)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("readme.txt: moved, 301 to http://127.0.0.1:%d/Updates/Moved/readme.txt: the installer "
                      "follows it" % site_port, result.stdout)

    def test_shows_progress_on_a_terminal(self):
        self.published("Terminal")
        leader, follower = pty.openpty()
        with subprocess.Popen([sys.executable, PUBLISH, "--check", self.url, "--product", "Terminal"],
                              stdout=subprocess.PIPE, stderr=follower) as process:
            os.close(follower)
            out, _ = process.communicate(timeout=60)
        shown = b""
        while True:
            try:
                block = os.read(leader, 4096)
            except OSError:
                break
            if not block:
                break
            shown += block
        os.close(leader)
        self.assertEqual(process.returncode, 0, out)
        for number, entry in enumerate((b"Terminal.exe", b"Data\\big.bin", b"Read me too.txt", b"readme.txt"), 1):
            self.assertIn(b"[%d/4] %s" % (number, entry), shown)


if __name__ == "__main__":
    unittest.main()

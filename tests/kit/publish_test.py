#!/usr/bin/env python3
"""tools/publish: the site it lays out, what it refuses, and --check against
the loopback test site (tests/site/site_server.py) with programmed faults."""
import hashlib
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


def hash_lines(files, names):
    """The [FileHashes] lines of the files (relative path -> bytes) named, in that order."""
    return b"".join(b"%s=%d %s\r\n" % (name.replace("/", "\\").encode("cp1251"), len(files[name]),
                                       hashlib.sha256(files[name]).hexdigest().encode()) for name in names)


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
    LISTED = ["Pelmar.exe", "a.txt", "b.txt", "Resources/settings.ini", "Sub/Deeper/c.bin", "Sub/z.dat"]
    MANIFEST = (b"[UpdateFiles]\r\n"
                b"Resources\\Pelmar.ini\r\n"
                b"Pelmar.exe\r\n"
                b"a.txt\r\n"
                b"b.txt\r\n"
                b"Resources\\settings.ini\r\n"
                b"Sub\\Deeper\\c.bin\r\n"
                b"Sub\\z.dat\r\n"
                b"[FileHashes]\r\n"
                + hash_lines(FILES, LISTED)
                + b"[Release]\r\nNumber=1\r\n")

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


def openssl(*args, **kwargs):
    return subprocess.run(["openssl", *args], capture_output=True, timeout=60, check=True, **kwargs)


def make_keys(folder):
    """Keys made with openssl: name -> path of its PEM file. "site" and
    "other" are P-256 key pairs (with ".pub" the public key); the rest are
    what --sign-key refuses."""
    keys = {name: os.path.join(folder, name + ".pem") for name in (
        "site", "site.pub", "other", "other.pub", "rsa", "rsa.pub", "ed25519", "p384", "p384.pub", "encrypted",
        "text")}
    for name in ("site", "other"):
        openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", keys[name])
        openssl("ec", "-in", keys[name], "-pubout", "-out", keys[name + ".pub"])
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", keys["rsa"])
    openssl("pkey", "-in", keys["rsa"], "-pubout", "-out", keys["rsa.pub"])
    openssl("genpkey", "-algorithm", "ed25519", "-out", keys["ed25519"])
    openssl("ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", keys["p384"])
    openssl("ec", "-in", keys["p384"], "-pubout", "-out", keys["p384.pub"])
    openssl("pkey", "-in", keys["site"], "-aes256", "-passout", "pass:secret", "-out", keys["encrypted"])
    with open(keys["text"], "w") as f:
        f.write("not a key\n")
    return keys


def signature_verifies(manifest, signature, public_key):
    return subprocess.run(["openssl", "dgst", "-sha256", "-verify", public_key, "-signature", signature, manifest],
                          capture_output=True, timeout=60).returncode == 0


class ManifestSections(TempFolder):
    FILES = {"Pelmar.exe": b"MZ", "Данные/a=b.txt": b"x=1\r\n"}
    ENTRY = "Данные\\a=b.txt".encode("cp1251")
    # The entry's bytes as in [UpdateFiles]; the line is split at its last "=".
    MANIFEST = (b"[UpdateFiles]\r\nResources\\Pelmar.ini\r\nPelmar.exe\r\n" + ENTRY + b"\r\n"
                b"[FileHashes]\r\n"
                b"Pelmar.exe=2 9b8db510ef42b8ed54a3712636fda55a4f8cfcd5493e20b74ab00cd4f3979f2d\r\n"
                + ENTRY + b"=5 4865d4b132159da24f721056fe2e8295ad13e88902a7d97662252cf94d5f3e5c\r\n"
                b"[Release]\r\nNumber=1\r\n")

    def test_lists_each_file_with_its_size_and_hash_then_the_release(self):
        make_tree(self.product, self.FILES)
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.site, "Updates", "Pelmar", "Resources", "Pelmar.ini"), "rb") as f:
            manifest = f.read()
        self.assertEqual(manifest, self.MANIFEST)
        lines = rules.manifest_lines(manifest)
        self.assertEqual(rules.update_files(lines), ["Resources\\Pelmar.ini", "Pelmar.exe", "Данные\\a=b.txt"])
        self.assertEqual(sorted(rules.file_hashes(lines)[0]), ["Pelmar.exe", "Данные\\a=b.txt"])
        self.assertIn("release 1", result.stdout)


class ReleaseNumbers(TempFolder):
    # Run one after another on one site: what changes in the product folder
    # before the run, the options, and the release number the manifest then
    # has, or the line publish refuses with (and then writes nothing).
    STEPS = [
        ("a new site", {}, (), 1),
        ("nothing changed", {}, (), 1),
        ("a file changed", {"a.txt": b"a, version 2"}, (), 2),
        ("a file added", {"Data/new.txt": b"new"}, (), 3),
        ("--release 10", {}, ("--release", "10"), 10),
        ("nothing changed after --release", {}, (), 10),
        ("the same number again", {}, ("--release", "10"), 10),
        ("a lower number", {}, ("--release", "9"),
         "publish: --release 9 is lower than the site's present release 10: installers that have a later release "
         "refuse to go back to it; with --force it is published all the same"),
        ("a lower number, changed files", {"a.txt": b"a, version 3"}, ("--release", "4"),
         "publish: --release 4 is lower than the site's present release 10"),
        ("a lower number with --force", {}, ("--release", "4", "--force"), 4),
        ("a file changed after that", {"a.txt": b"a, version 4"}, (), 5),
    ]

    def manifest(self):
        with open(os.path.join(self.site, "Updates", "Pelmar", "Resources", "Pelmar.ini"), "rb") as f:
            return f.read()

    def test_each_step_gives_its_release_number(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM, "a.txt": b"a"})
        before = {}
        for case, files, options, expected in self.STEPS:
            with self.subTest(case):
                make_tree(self.product, files)
                result = run_publish(self.product, "--product", "Pelmar", "--out", self.site, *options)
                if isinstance(expected, str):
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                    self.assertTrue(result.stderr.startswith(expected), result.stderr)
                    self.assertEqual(tree(self.site), before)
                    continue
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(self.manifest().endswith(b"\r\n[Release]\r\nNumber=%d\r\n" % expected), self.manifest())
                self.assertIn("release %d" % expected, result.stdout)
                if not files and before and rules.release_number(
                        rules.manifest_lines(before[b"Updates/Pelmar/Resources/Pelmar.ini"])) == expected:
                    self.assertEqual(tree(self.site), before)
                before = tree(self.site)

    def test_a_site_without_a_release_number_gets_1(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        make_tree(self.site, {"Updates/Pelmar/Resources/Pelmar.ini": b"[UpdateFiles]\r\nPelmar.exe\r\n"})
        result = run_publish(self.product, "--product", "Pelmar", "--out", self.site)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(self.manifest().endswith(b"[Release]\r\nNumber=1\r\n"))

    def test_a_release_number_that_is_none_is_a_wrong_command_line(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        for number in ("0", "-1", "1.5", "x", "1000000000000000000"):
            with self.subTest(number):
                result = run_publish(self.product, "--product", "Pelmar", "--out", self.site, "--release", number)
                self.assertEqual(result.returncode, 2)
                self.assertIn("--release: takes a whole number from 1 to 999999999999999999", result.stderr)
                self.assertFalse(os.path.exists(self.site))


class Signing(TempFolder):
    @classmethod
    def setUpClass(cls):
        cls.key_folder = tempfile.mkdtemp(prefix="publish-keys-")
        cls.keys = make_keys(cls.key_folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.key_folder, ignore_errors=True)

    def publish(self, *options):
        return run_publish(self.product, "--product", "Pelmar", "--out", self.site, *options)

    def on_site(self, name):
        return os.path.join(self.site, "Updates", "Pelmar", "Resources", name)

    def read(self, name):
        with open(self.on_site(name), "rb") as f:
            return f.read()

    def test_the_signature_is_the_keys_over_the_manifests_bytes_and_kept_while_it_is_unchanged(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM, "a.txt": b"a"})
        for case, files, same in (("first", {}, False), ("unchanged", {}, True), ("changed", {"a.txt": b"b"}, False)):
            with self.subTest(case):
                before = tree(self.site) if os.path.exists(self.site) else None
                make_tree(self.product, files)
                result = self.publish("--sign-key", self.keys["site"])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(", signed", result.stdout)
                self.assertTrue(signature_verifies(self.on_site("Pelmar.ini"), self.on_site("Pelmar.ini.sig"),
                                                   self.keys["site.pub"]))
                self.assertFalse(signature_verifies(self.on_site("Pelmar.ini"), self.on_site("Pelmar.ini.sig"),
                                                    self.keys["other.pub"]))
                self.assertEqual(tree(self.site) == before, same)

    # Each case: the key --sign-key names, and the one line publish refuses it with.
    REFUSED = [
        ("an RSA key", "rsa", "is not an EC P-256 (prime256v1) private key"),
        ("an Ed25519 key", "ed25519", "is not an EC P-256 (prime256v1) private key"),
        ("another curve", "p384", "is not an EC P-256 (prime256v1) private key"),
        ("the public key", "site.pub", "is a public key: signing takes the private key"),
        ("a key with a pass phrase", "encrypted", "is protected by a pass phrase"),
        ("no key at all", "text", "is not an EC P-256 (prime256v1) private key"),
        ("no file", None, "cannot be read: No such file or directory"),
    ]

    def test_every_other_key_is_refused_with_one_line_and_nothing_written(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        for case, key, line in self.REFUSED:
            with self.subTest(case):
                path = self.keys[key] if key else os.path.join(self.key_folder, "missing.pem")
                result = self.publish("--sign-key", path)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertRegex(result.stderr, "^publish: (--sign-key )?%s %s" % (re.escape(path), re.escape(line)))
                self.assertFalse(os.path.exists(self.site))

    def test_a_signed_site_is_replaced_by_an_unsigned_one_only_with_force(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        self.assertEqual(self.publish("--sign-key", self.keys["site"]).returncode, 0)
        before = tree(self.site)
        result = self.publish()
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), [
            "publish: the site is signed (Resources\\Pelmar.ini.sig) and this run signs nothing: installers built "
            "with the key would refuse it; pass --sign-key KEY.pem (or --force to publish it unsigned)"])
        self.assertEqual(tree(self.site), before)
        self.assertEqual(self.publish("--force").returncode, 0)
        self.assertFalse(os.path.exists(self.on_site("Pelmar.ini.sig")))

    def test_signing_with_another_key_than_the_sites_is_said(self):
        make_tree(self.product, {"Pelmar.exe": PROGRAM})
        self.assertEqual(self.publish("--sign-key", self.keys["site"]).returncode, 0)
        result = self.publish("--sign-key", self.keys["other"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("warning: the site's present signature does not verify with %s" % self.keys["other"],
                      result.stderr)
        self.assertTrue(signature_verifies(self.on_site("Pelmar.ini"), self.on_site("Pelmar.ini.sig"),
                                           self.keys["other.pub"]))


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

        cls.keys = make_keys(cls.temp)

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.server.wait()
        shutil.rmtree(cls.temp, ignore_errors=True)

    def published(self, product, *options):
        """A product folder published to the test site with options; returns the folder."""
        folder = os.path.join(self.temp, "products", product)
        make_tree(folder, {product + ".exe": PROGRAM, "Data/big.bin": bytes(range(256)) * 40,
                           "readme.txt": b"read me\r\n", "Read me too.txt": b"a blank in the name"})
        result = run_publish(folder, "--product", product, "--out", self.site, *options)
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

    def edit_manifest(self, product, edit, key="site"):
        """Rewrites the product's manifest on the site as edit(bytes) returns
        it, and signs it again with key."""
        manifest = self.on_site(product, "Resources/%s.ini" % product)
        with open(manifest, "rb") as f:
            data = edit(f.read())
        with open(manifest, "wb") as f:
            f.write(data)
        openssl("dgst", "-sha256", "-sign", self.keys[key], "-out", manifest + ".sig", manifest)

    def change_byte(self, product, relative, at):
        with open(self.on_site(product, relative), "r+b") as f:
            f.seek(at)
            byte = f.read(1)
            f.seek(at)
            f.write(bytes([byte[0] ^ 0x20]))

    def truncate(self, product, relative, size):
        with open(self.on_site(product, relative), "r+b") as f:
            f.truncate(size)

    def sign_other_release(self, product):
        """The site's .sig becomes the key's signature of the manifest of release 2."""
        manifest = self.on_site(product, "Resources/%s.ini" % product)
        with open(manifest, "rb") as f:
            other = f.read().replace(b"Number=1\r\n", b"Number=2\r\n")
        openssl("dgst", "-sha256", "-sign", self.keys["site"], "-out", manifest + ".sig", input=other)

    def drop_line(self, product, start):
        self.edit_manifest(product, lambda data: b"".join(
            line for line in data.splitlines(keepends=True) if not line.startswith(start)))

    # Each case: what it does to a signed site, the line the check must print
    # (a pattern), and whether only a check with --key finds it (an installer
    # built without a key fetches no signature).
    TRUST_FAULTS = [
        ("a changed byte", lambda t, p: t.change_byte(p, "Data/big.bin", 5000),
         r"Data\\big\.bin: differs from its \[FileHashes\] line: changed on the site or on the way; the installer "
         r"refuses it", False),
        ("a truncated file", lambda t, p: t.truncate(p, "readme.txt", 4),
         r"readme\.txt: is 4 bytes, its \[FileHashes\] line says 9: cut off, or another file \(an error page\?\) "
         r"in its place; the installer refuses it", False),
        ("a soft 404: an error page with status 200", lambda t, p: t.fault(p, "Data/big.bin", "status 200"),
         r"Data\\big\.bin: is \d+ bytes, its \[FileHashes\] line says 10240: cut off, or another file", False),
        ("a chunked answer cut short", lambda t, p: t.fault(p, "Data/big.bin", "chunked nolast"),
         r"Data\\big\.bin: (cut off|is \d+ bytes)", False),
        ("a hash line removed", lambda t, p: t.drop_line(p, b"readme.txt="),
         r"readme\.txt: has no \[FileHashes\] line: installers built with a key refuse the site", False),
        ("a malformed hash line",
         lambda t, p: t.edit_manifest(p, lambda d: d.replace(b"readme.txt=9 ", b"readme.txt=9")),
         r"Resources\\%s\.ini: has 1 malformed \[FileHashes\] line \(not ENTRY=SIZE SHA-256, or an entry given "
         r"twice\), the first readme\.txt=9[0-9a-f]{64}: installers built with a key refuse the site", False),
        ("a signature of another release", lambda t, p: t.sign_other_release(p),
         r"Resources\\%s\.ini\.sig: does not verify the manifest with .*site\.pub\.pem: installers built with the "
         r"key refuse the site", True),
        ("a signature made with another key", lambda t, p: t.edit_manifest(p, lambda d: d, key="other"),
         r"Resources\\%s\.ini\.sig: does not verify the manifest with", True),
        ("no signature", lambda t, p: os.remove(t.on_site(p, "Resources/%s.ini.sig" % p)),
         r"Resources\\%s\.ini\.sig: missing \(404\): installers built with the key refuse the site", True),
    ]

    def test_each_tampering_is_found_with_the_key_and_without_it_where_an_unkeyed_installer_finds_it(self):
        for number, (case, spoil, line, key_only) in enumerate(self.TRUST_FAULTS):
            product = "Tampered%d" % number
            self.published(product, "--sign-key", self.keys["site"])
            spoil(self, product)
            for options in ((), ("--key", self.keys["site.pub"])):
                with self.subTest(case, options=options):
                    result = self.check(product, *options)
                    if key_only and not options:
                        self.assertEqual(result.returncode, 0, result.stdout)
                        continue
                    self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                    self.assertRegex(result.stdout, "(?m)^" + line.replace("%s", product))
                    self.assertIn("would not install cleanly: 1 problem\n", result.stdout)

    def test_a_signed_site_passes_with_its_key_and_says_its_release(self):
        self.published("Signed", "--sign-key", self.keys["site"], "--release", "7")
        for options, said in (((), "release 7"),
                              (("--key", self.keys["site.pub"]), "release 7, signed with the key of %s"
                               % self.keys["site.pub"])):
            with self.subTest(options=options):
                result = self.check("Signed", *options)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("would install cleanly: the manifest and 4 files, %s\n" % said, result.stdout)

    def test_a_site_of_files_only_passes_without_a_key_and_fails_with_one(self):
        self.published("FilesOnly")
        self.manifest("FilesOnly", ["FilesOnly.exe", "Data\\big.bin", "Read me too.txt", "readme.txt"])
        result = self.check("FilesOnly")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("has no [FileHashes] section: the installer fetches every file unchecked", result.stdout)
        self.assertIn("the manifest and 4 files, no release number", result.stdout)
        result = self.check("FilesOnly", "--key", self.keys["site.pub"])
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("Resources\\FilesOnly.ini.sig: missing (404)", result.stdout)
        self.assertIn("Resources\\FilesOnly.ini: has no [FileHashes] section: installers built with a key refuse "
                      "the site", result.stdout)

    def test_a_key_that_is_no_p256_public_key_is_one_error(self):
        self.published("WrongKey")
        for case, key, line in (("the private key", "site", "is a private key: the check takes the public key"),
                                ("an RSA key", "rsa.pub", "is not an EC P-256 (prime256v1) public key"),
                                ("another curve", "p384.pub", "is not an EC P-256 (prime256v1) public key"),
                                ("no key at all", "text", "is not an EC P-256 (prime256v1) public key")):
            with self.subTest(case):
                result = self.check("WrongKey", "--key", self.keys[key])
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn("publish: --key %s %s" % (self.keys[key], line), result.stderr)

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

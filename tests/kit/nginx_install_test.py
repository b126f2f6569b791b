#!/usr/bin/env python3
"""The demo product published with tools/publish (signed), served by nginx,
checked with the site's key, installed and then updated by the real program
under Wine: every file byte for byte, a Cyrillic one under its Cyrillic name."""
import os
import shutil
import subprocess
import sys
import urllib.error
import urllib.request

from kit_support import ARGS, PUBLISH, KitTest, main, make_tree, publish, run_publish


class PublishedSiteOnNginx(KitTest):
    def test_installs_then_updates_every_file_from_nginx(self):
        product = os.path.join(self.work, "product")
        shutil.copytree(ARGS.product_folder, product)
        # The installer asks for these with code page 1251 bytes and with a
        # blank in the URL.
        os.makedirs(os.path.join(product, "Данные"))
        with open(os.path.join(product, "Данные", "отчёт.txt"), "wb") as f:
            f.write("Отчёт за квартал\r\n".encode("cp1251"))
        with open(os.path.join(product, "Read me first.txt"), "wb") as f:
            f.write(b"Pelmar: read me first.\r\n")
        site = os.path.join(self.work, "site")
        dest = os.path.join(self.work, "install")
        key, public_key = os.path.join(self.work, "site-key.pem"), os.path.join(self.work, "site-key.pub.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key], check=True)
        subprocess.run(["openssl", "ec", "-in", key, "-pubout", "-out", public_key], check=True, capture_output=True)
        publish(product, "--product", ARGS.product, "--out", site, "--sign-key", key)
        port = self.serve(site)

        def check(release):
            result = subprocess.run([sys.executable, PUBLISH, "--check", "http://127.0.0.1:%d" % port,
                                     "--product", ARGS.product, "--against", product, "--key", public_key],
                                    capture_output=True, text=True, timeout=120)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn(", release %d, signed with the key of" % release, result.stdout)
        check(1)

        self.install(ARGS.installer, dest, port)
        self.assertInstalled(dest, product, site)
        self.assertTrue(os.path.isfile(os.path.join(dest, "Данные", "отчёт.txt")))

        # A new version: one file changed, one added, in the Cyrillic folder.
        with open(os.path.join(product, "Data", "sample.txt"), "ab") as f:
            f.write(b"Version 2.\r\n")
        with open(os.path.join(product, "Данные", "новое.txt"), "wb") as f:
            f.write("Новое в версии 2\r\n".encode("cp1251"))
        publish(product, "--product", ARGS.product, "--out", site, "--sign-key", key)
        check(2)
        self.install(ARGS.installer, dest, port)
        self.assertInstalled(dest, product, site)


class SiteModesOnNginx(KitTest):
    """nginx's workers run as an ordinary user: every file of a published
    site answers 200, whatever the modes in the product folder."""

    # Each case: what it does to the product folder, and the umask publish runs with.
    CASES = [
        ("umask 077", lambda folder: None, 0o077),
        ("a file only its owner reads", lambda folder: os.chmod(os.path.join(folder, "a.txt"), 0o600), 0o022),
        ("a folder only its owner enters", lambda folder: os.chmod(os.path.join(folder, "Data"), 0o700), 0o022),
    ]

    def test_every_file_answers_200(self):
        for case, spoil, umask in self.CASES:
            with self.subTest(case):
                product = os.path.join(self.work, "product-%d" % umask)
                shutil.rmtree(product, ignore_errors=True)
                make_tree(product, {"Pelmar.exe": b"MZ", "a.txt": b"a", "Data/b.txt": b"b", "Data/Deep/c.txt": b"c"})
                spoil(product)
                site = os.path.join(self.work, "site")
                shutil.rmtree(site, ignore_errors=True)
                result = run_publish(product, "--product", "Pelmar", "--out", site,
                                     preexec_fn=lambda: os.umask(umask))
                self.assertEqual(result.returncode, 0, result.stderr)
                port = self.serve(site)
                direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))
                for path in ("Pelmar.exe", "a.txt", "Data/b.txt", "Data/Deep/c.txt", "Resources/Pelmar.ini"):
                    url = "http://127.0.0.1:%d/Updates/Pelmar/%s" % (port, path)
                    try:
                        status = direct.open(url, timeout=10).status
                    except urllib.error.HTTPError as error:
                        status = error.code
                    self.assertEqual(status, 200, url)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The demo product published with tools/publish, served by nginx, installed
and then updated by the real program under Wine: every file byte for byte,
a Cyrillic one under its Cyrillic name."""
import os
import shutil
import subprocess
import sys

from kit_support import ARGS, PUBLISH, KitTest, main, publish


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
        publish(product, "--product", ARGS.product, "--out", site)
        port = self.serve(site)

        check = subprocess.run([sys.executable, PUBLISH, "--check", "http://127.0.0.1:%d" % port,
                                "--product", ARGS.product, "--against", product],
                               capture_output=True, text=True, timeout=120)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

        self.install(ARGS.installer, dest, port)
        self.assertInstalled(dest, product, site)
        self.assertTrue(os.path.isfile(os.path.join(dest, "Данные", "отчёт.txt")))

        # A new version: one file changed, one added, in the Cyrillic folder.
        with open(os.path.join(product, "Data", "sample.txt"), "ab") as f:
            f.write(b"Version 2.\r\n")
        with open(os.path.join(product, "Данные", "новое.txt"), "wb") as f:
            f.write("Новое в версии 2\r\n".encode("cp1251"))
        publish(product, "--product", ARGS.product, "--out", site)
        self.install(ARGS.installer, dest, port)
        self.assertInstalled(dest, product, site)


if __name__ == "__main__":
    main()

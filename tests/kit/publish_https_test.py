#!/usr/bin/env python3
"""tools/publish --check against the harness's HTTPS servers (scripts/harness
tls-start): certificates verified against the system's CAs or --cafile's, a
plain site that moves up to HTTPS followed and shown, and no way back down."""
import os
import shutil

from kit_support import ARGS, KitTest, main, make_tree, publish, run_publish

PRODUCT = "Secure"


class CheckOverHttps(KitTest):
    def setUp(self):
        super().setUp()
        tls = os.path.join(ARGS.harness, "tls")
        with open(os.path.join(tls, "ports")) as f:
            self.ports = dict(line.split() for line in f if line.strip())
        self.cafile = os.path.join(tls, "ca.pem")
        # The HTTPS servers and the plain test site serve the harness's site folder.
        self.site = os.path.join(ARGS.harness, "site")
        folder = os.path.join(self.work, PRODUCT)
        make_tree(folder, {PRODUCT + ".exe": b"MZ" + bytes(300), "readme.txt": b"read me\r\n"})
        publish(folder, "--product", PRODUCT, "--out", self.site)
        self.addCleanup(shutil.rmtree, os.path.join(self.site, "Updates", PRODUCT), ignore_errors=True)

    def check(self, url, *more):
        return run_publish("--check", url, "--product", PRODUCT, *more)

    def https(self, server):
        return "https://localhost:%s" % self.ports[server]

    def test_a_trusted_site_passes_only_with_its_ca(self):
        result = self.check(self.https("valid"), "--cafile", self.cafile)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("would install cleanly: the manifest and 2 files", result.stdout)
        # The system's CAs do not know the test CA.
        result = self.check(self.https("valid"))
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("certificate verify failed", result.stdout)

    def test_each_certificate_the_installer_refuses_fails_the_check(self):
        for server, why in (("untrusted", "unable to get local issuer certificate"),
                            ("other-name", "Hostname mismatch"), ("expired", "certificate has expired")):
            with self.subTest(server=server):
                result = self.check(self.https(server), "--cafile", self.cafile)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("Resources\\%s.ini: not fetched: " % PRODUCT, result.stdout)
                self.assertIn(why, result.stdout)

    def test_a_redirect_down_to_plain_http_fails_the_check(self):
        result = self.check(self.https("downgrade"), "--cafile", self.cafile)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("301 to http://localhost/Updates/%s/Resources/%s.ini: the installer never comes back down "
                      "from HTTPS to plain HTTP" % (PRODUCT, PRODUCT), result.stdout)

    def test_a_plain_site_moving_up_to_https_is_followed_and_shown(self):
        base = "%s/Updates/%s/" % (self.https("valid"), PRODUCT)
        for entry in ("Resources/%s.ini" % PRODUCT, PRODUCT + ".exe", "readme.txt"):
            with open(os.path.join(self.site, "Updates", PRODUCT, *entry.split("/")) + ".fault", "w") as f:
                f.write("redirect 301 %s%s\n" % (base, entry))
        with open(os.path.join(ARGS.harness, "site-port")) as f:
            plain = "http://127.0.0.1:%s" % f.read().strip()
        result = self.check(plain, "--cafile", self.cafile)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("readme.txt: moved, 301 to %sreadme.txt: the installer follows it" % base, result.stdout)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""PRODUCT_SITE_SCHEME at configure time: http or https, nothing else."""
import os
import subprocess
import tempfile
import unittest

from kit_support import ARGS, ROOT, main


class SiteScheme(unittest.TestCase):
    def configure(self, scheme):
        build = tempfile.mkdtemp(prefix="scheme-", dir=ARGS.harness)
        self.addCleanup(subprocess.run, ["rm", "-rf", build])
        result = subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "--toolchain", ARGS.toolchain,
                                 "-DINSTALLER_TESTS=OFF", "-DPRODUCT_SITE_SCHEME=" + scheme],
                                capture_output=True, text=True, timeout=300)
        return build, result

    def test_other_values_are_refused(self):
        for scheme in ("ftp", "HTTPS", "https://", ""):
            with self.subTest(scheme=scheme):
                _, result = self.configure(scheme)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn('PRODUCT_SITE_SCHEME is "%s": it takes http or https' % scheme, result.stderr)

    def test_https_reaches_the_entry_point(self):
        build, result = self.configure("https")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(build, "window", "generated-scheme", "window", "site_scheme.h")) as f:
            self.assertIn("kSiteOverHttps = true;", f.read())


if __name__ == "__main__":
    main()

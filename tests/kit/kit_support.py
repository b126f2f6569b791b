"""What the kit's Wine tests share: their command line, a published site served
by nginx through the harness, and the real installer driven by the autopilot."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PUBLISH = os.path.join(ROOT, "tools", "publish")
HARNESS = os.path.join(ROOT, "scripts", "harness")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")

ARGS = argparse.Namespace()


def main():
    """unittest.main() after taking the build's paths off the command line."""
    parser = argparse.ArgumentParser()
    for name in ("installer", "autopilot", "product", "product-folder", "harness", "toolchain"):
        parser.add_argument("--" + name)
    known, rest = parser.parse_known_args()
    vars(ARGS).update(vars(known))
    unittest.main(argv=[sys.argv[0]] + rest)


def tree(folder):
    """Every file under folder: relative path (bytes, "/" between folders) -> content."""
    found = {}
    top = os.fsencode(folder)
    for parent, _, names in os.walk(top):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, top)] = f.read()
    return found


def make_tree(folder, files):
    """files: relative path ("/" between folders) -> bytes."""
    for relative, data in files.items():
        path = os.path.join(folder, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def run_publish(*args, **kwargs):
    return subprocess.run([sys.executable, PUBLISH, *args], capture_output=True, text=True, timeout=120, **kwargs)


def parents(path):
    path = os.path.realpath(path)
    while path != os.path.dirname(path):
        path = os.path.dirname(path)
        yield path


def as_nobody():
    """For preexec_fn: the rest runs as an ordinary user (when this is root,
    who reads everything)."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


# An interpreter an ordinary user may start (this one may sit in root's home).
ORDINARY_PYTHON = next((p for p in (sys.executable, "/usr/bin/python3", "/usr/local/bin/python3")
                        if os.path.exists(p) and (os.geteuid() != 0 or all(os.stat(d).st_mode & 0o001
                                                                            for d in parents(p)))), None)


def run_publish_as_nobody(*args):
    """tools/publish run as an ordinary user; None where none can start Python."""
    if ORDINARY_PYTHON is None:
        return None
    return subprocess.run([ORDINARY_PYTHON, PUBLISH, *args], capture_output=True, text=True, timeout=120,
                          preexec_fn=as_nobody)


def publish(*args):
    result = run_publish(*args)
    if result.returncode != 0:
        raise AssertionError("publish %s failed:\n%s%s" % (" ".join(args), result.stdout, result.stderr))
    return result


class KitTest(unittest.TestCase):
    """A work folder inside the build (Wine sees it under Z:), and nginx
    stopped again after each test."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kit-", dir=ARGS.harness)
        # nginx's workers run as an ordinary user, who must get through.
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)

    def serve(self, site):
        """Serves site with nginx on loopback; returns its port."""
        result = subprocess.run([HARNESS, "nginx-start", ARGS.harness, site], capture_output=True, text=True,
                                stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.addCleanup(subprocess.run, [HARNESS, "nginx-stop", ARGS.harness], stdin=subprocess.DEVNULL,
                        capture_output=True, timeout=60)
        return int(result.stdout.strip())

    def install(self, installer, dest, port):
        """Runs the real installer through the autopilot, with the proxy
        pointing at the loopback server on port; fails unless the run ended
        "OK" and the product started."""
        env = dict(os.environ, http_proxy="http://127.0.0.1:%d" % port)
        result = subprocess.run([WINE_RUN, ARGS.harness, ARGS.autopilot, installer, dest], env=env,
                                capture_output=True, stdin=subprocess.DEVNULL, timeout=300)
        log = result.stdout.decode("cp1251", "replace") + result.stderr.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 0, "the install did not finish:\n" + log)
        return log

    def assertInstalled(self, dest, product_folder, site):
        """dest holds exactly the product's files and the site's manifest, byte for byte."""
        manifest = os.path.join(b"Resources", ARGS.product.encode() + b".ini")
        expected = {k: v for k, v in tree(product_folder).items() if k != manifest}
        with open(os.path.join(site, "Updates", ARGS.product, "Resources", ARGS.product + ".ini"), "rb") as f:
            expected[manifest] = f.read()
        installed = tree(dest)
        self.assertEqual(sorted(installed), sorted(expected))
        for name, data in expected.items():
            self.assertTrue(installed[name] == data, "%s differs from the product's" % os.fsdecode(name))

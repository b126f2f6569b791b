#!/usr/bin/env python3
"""Signing the program with a throw-away code-signing certificate made here:
the build step signs what it links (only when asked), osslsigncode accepts the
signature, a failed signing leaves the program as it was, and the signed
program still installs the product under Wine."""
import os
import shutil
import subprocess

from kit_support import ARGS, ROOT, KitTest, main, publish

SIGNING = os.path.join(ROOT, "cmake", "signing.cmake")


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=120, **kwargs)


class SignedProgram(KitTest):
    def setUp(self):
        super().setUp()
        self.certificate = self.make_certificate("Pelmar test signer", "secret-1")

    def make_certificate(self, name, password):
        """A self-signed code-signing certificate: (PEM file, .p12 file, password file)."""
        folder = os.path.join(self.work, name.replace(" ", "-"))
        os.makedirs(folder)
        pem, key, p12, password_file = (os.path.join(folder, f) for f in ("cert.pem", "key.pem", "cert.p12", "pass"))
        with open(password_file, "w") as f:
            f.write(password)
        for command in (
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name,
                 "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem],
                ["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", p12,
                 "-passout", "file:" + password_file]):
            result = run(*command)
            self.assertEqual(result.returncode, 0, result.stderr)
        return pem, p12, password_file

    def sign(self, program, p12, password_file):
        """What the build step runs after the link."""
        return run("cmake", "-DPROGRAM=" + program, "-DPKCS12=" + p12, "-DPASSWORD_FILE=" + password_file,
                   "-DDESCRIPTION=Install-" + ARGS.product, "-P", SIGNING)

    def verify(self, program, pem):
        return run("osslsigncode", "verify", "-CAfile", pem, "-in", program)

    def copy_of_installer(self):
        program = os.path.join(self.work, "Install-%s.exe" % ARGS.product)
        shutil.copyfile(ARGS.installer, program)
        return program

    def test_the_signed_program_verifies_and_still_installs_the_product(self):
        pem, p12, password_file = self.certificate
        program = self.copy_of_installer()
        result = self.sign(program, p12, password_file)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        verified = self.verify(program, pem)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("Message digest algorithm  : SHA256", verified.stdout)
        # Checked against the certificate that made it, not just any.
        other_pem, _, _ = self.make_certificate("Someone else", "secret-2")
        self.assertNotEqual(self.verify(program, other_pem).returncode, 0)

        site = os.path.join(self.work, "site")
        publish(ARGS.product_folder, "--product", ARGS.product, "--out", site)
        dest = os.path.join(self.work, "install")
        self.install(program, dest, self.serve(site))
        self.assertInstalled(dest, ARGS.product_folder, site)

    def test_a_failed_signing_leaves_the_program_as_the_linker_made_it(self):
        _, p12, _ = self.certificate
        wrong = os.path.join(self.work, "wrong-password")
        with open(wrong, "w") as f:
            f.write("not the password")
        program = self.copy_of_installer()
        before = sorted(os.listdir(self.work))
        result = self.sign(program, p12, wrong)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("could not sign", result.stderr)
        with open(program, "rb") as signed, open(ARGS.installer, "rb") as linked:
            self.assertTrue(signed.read() == linked.read(), "the program was changed")
        self.assertEqual(sorted(os.listdir(self.work)), before)

    def test_the_build_signs_the_program_it_links_only_when_asked(self):
        pem, p12, password_file = self.certificate
        source = os.path.join(self.work, "project")
        os.makedirs(source)
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write('cmake_minimum_required(VERSION 3.25)\n'
                    'project(SignedProgram LANGUAGES C)\n'
                    'include("%s")\n'
                    'add_executable(tiny tiny.c)\n'
                    'sign_program(tiny)\n' % SIGNING)
        with open(os.path.join(source, "tiny.c"), "w") as f:
            f.write("int main(void) { return 0; }\n")
        for signed, options in ((True, ["-DSIGN_PKCS12=" + p12, "-DSIGN_PASSWORD_FILE=" + password_file]),
                                (False, [])):
            with self.subTest(signed=signed):
                build = os.path.join(self.work, "build-signed" if signed else "build-unsigned")
                configured = run("cmake", "-G", "Ninja", "-S", source, "-B", build,
                                 "-DCMAKE_TOOLCHAIN_FILE=" + ARGS.toolchain, *options)
                self.assertEqual(configured.returncode, 0, configured.stdout + configured.stderr)
                built = run("cmake", "--build", build)
                self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
                verified = self.verify(os.path.join(build, "tiny.exe"), pem)
                self.assertEqual(verified.returncode == 0, signed, verified.stdout + verified.stderr)


if __name__ == "__main__":
    main()

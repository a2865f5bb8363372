"""examples/release-ci.sh, the release pipeline docs/releasing.md shows, run on
the release archive of this build with a throwaway certificate: it publishes a
signed launcher whose payload verifies only when the archive's checksum holds,
and publishes nothing when it does not.

QUILLBOX_RELEASE_DIR is the release folder (`cmake --build build/host --target
release`), QUILLBOX_PACKER the build tree's packer, which reads the result."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "examples" / "release-ci.sh"
RELEASE = pathlib.Path(os.environ.get("QUILLBOX_RELEASE_DIR", ROOT / "build" / "host" / "release"))


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


class ReleaseRecipe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        archives = sorted(RELEASE.glob("quillbox-*-linux-x86_64.tar.gz"))
        if len(archives) != 1:
            raise AssertionError("no single release archive in %s (scripts/build.sh release makes it)" % RELEASE)
        cls.archive = archives[0]
        cls.version = cls.archive.name[len("quillbox-"):-len("-linux-x86_64.tar.gz")]
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="release-ci."))
        keys = cls.work / "keys"
        keys.mkdir()
        (keys / "password").write_text("throwaway password")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=quillbox throwaway test certificate",
                        "-keyout", str(keys / "key.pem"), "-out", str(keys / "cert.pem")],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(keys / "key.pem"), "-in", str(keys / "cert.pem"),
                        "-out", str(keys / "signing.p12"), "-passout", "file:" + str(keys / "password")],
                       check=True, capture_output=True)
        cls.keys = keys
        app = cls.work / "app"
        (app / "data").mkdir(parents=True)
        (app / "quillbox.exe").write_bytes(b"the program to start")
        (app / "data" / "readme.txt").write_text("beside it\n")
        cls.app = app

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, True)

    def release_folder(self, name, archive_bytes, sums):
        """A release folder holding the archive (as given) and, unless None, SHA256SUMS."""
        folder = self.work / name
        folder.mkdir()
        (folder / self.archive.name).write_bytes(archive_bytes)
        if sums is not None:
            (folder / "SHA256SUMS").write_text(sums)
        return folder

    def run_recipe(self, release, pinned, out):
        env = dict(os.environ, QUILLBOX_RELEASE=str(release), QUILLBOX_VERSION=self.version,
                   SIGN_PKCS12=str(self.keys / "signing.p12"), SIGN_PASSWORD_FILE=str(self.keys / "password"),
                   SIGN_CAFILE=str(self.keys / "cert.pem"), XDG_CACHE_HOME=str(self.work / "cache"))
        env.pop("QUILLBOX_SHA256", None)
        if pinned is not None:
            env["QUILLBOX_SHA256"] = pinned
        return subprocess.run(["bash", str(SCRIPT), str(self.app), str(out), "--version", "2.4.0.17"],
                              env=env, capture_output=True, text=True)

    def test_publishes_only_a_checked_archive(self):
        good = self.archive.read_bytes()
        digest = sha256(self.archive)
        altered = good[:-1] + bytes([good[-1] ^ 1])
        another_digest = ("1" if digest[0] == "0" else "0") + digest[1:]
        other = "0" * 64 + "  quillbox-0.0.0-linux-x86_64.tar.gz\n"
        listed = "%s  %s\n" % (digest, self.archive.name)
        # (case, archive bytes, SHA256SUMS or None, pinned digest or None, published?, in the failure's output)
        cases = [
            ("pinned digest", good, None, digest, True, None),
            ("pinned digest of another archive", good, None, another_digest, False, "pinned by QUILLBOX_SHA256"),
            ("listed in SHA256SUMS", good, other + listed, None, True, None),
            ("altered archive", altered, listed, None, False, "does not match"),
            ("SHA256SUMS without the archive", good, other, None, False, "does not list"),
            ("no checksum at all", good, None, None, False, "SHA256SUMS"),
        ]
        if (RELEASE / "SHA256SUMS").is_file():
            cases.append(("the release's own SHA256SUMS", good, (RELEASE / "SHA256SUMS").read_text(), None, True, None))
        for number, (case, archive_bytes, sums, pinned, published, said) in enumerate(cases):
            with self.subTest(case):
                out = self.work / ("dist%d" % number) / "myapp.exe"
                done = self.run_recipe(self.release_folder("release%d" % number, archive_bytes, sums), pinned, out)
                if not published:
                    self.assertNotEqual(done.returncode, 0, done.stderr)
                    self.assertIn(said, done.stderr)
                    self.assertFalse(out.parent.exists() and any(out.parent.iterdir()), "published after a failure")
                    continue
                self.assertEqual(done.returncode, 0, done.stderr)
                self.check_published(out)

    def check_published(self, out):
        """The launcher is signed by the throwaway certificate, carries the
        application, and its checksum file checks."""
        signature = subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.keys / "cert.pem"), "-in", str(out)],
                                   capture_output=True, text=True)
        self.assertEqual(signature.returncode, 0, signature.stdout + signature.stderr)
        self.assertIn("Signature verification: ok", signature.stdout)
        checked = subprocess.run(["sha256sum", "--check", "--strict", out.name + ".sha256"], cwd=out.parent,
                                 capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        # The options after OUT reach build, and the signed launcher still lists.
        packer = os.environ["QUILLBOX_PACKER"]
        listed = subprocess.run([packer, "list", str(out)], capture_output=True, text=True)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn("2.4.0.17", listed.stdout)
        unpacked = self.work / (out.parent.name + "-unpacked")
        done = subprocess.run([packer, "unpack", str(out), str(unpacked)], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual((unpacked / "data" / "readme.txt").read_text(), "beside it\n")


if __name__ == "__main__":
    unittest.main()

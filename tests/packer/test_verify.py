"""quillbox-pack on payloads made here: verify and unpack call the name gate
(whose rules the unit table covers), like a damaged stream or a wrong digest;
list --json writes what scripts parse; and the command line's statuses, help
and one-line complaints as a user meets them."""
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

import brotli

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "support"))
from quillbox_files import payload as payload_of  # noqa: E402

PACKER = os.environ.get("QUILLBOX_PACKER", "quillbox-pack")


def payload(names, exe=b".\\quillbox.exe"):
    return payload_of([(name, b"content") for name in names], exe)


def packer(command, names, exe=b".\\quillbox.exe"):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "app.bin")
        with open(path, "wb") as out:
            out.write(payload(names, exe))
        extra = [os.path.join(folder, "out")] if command == "unpack" else []
        done = subprocess.run([PACKER, command, path] + extra, capture_output=True, text=True, errors="replace")
        done.unpacked = os.path.exists(os.path.join(folder, "out"))
        return done


class Verify(unittest.TestCase):
    def test_names_the_gate_refuses_are_bad_lines(self):
        for names, bad in (([b".\\quillbox.exe", b"..\\..\\Startup\\x.exe"], b"..\\..\\Startup\\x.exe"),
                           ([b".\\quillbox.exe", b".\\QUILLBOX.EXE"], b".\\QUILLBOX.EXE")):
            with self.subTest(bad=bad):
                done = packer("verify", names)
                self.assertEqual(done.returncode, 1, done)
                self.assertIn("bad\t%s\tinvalid input: entry name" % bad.decode(), done.stdout)
                self.assertIn("1 of 2 entries are damaged", done.stderr)

    def test_a_launch_path_outside_the_payload_is_refused(self):
        done = packer("verify", [b".\\quillbox.exe"], exe=b"\\\\host\\share\\x.exe")
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("launch path \"\\\\host\\share\\x.exe\" is rooted", done.stderr)

    def test_a_nul_in_a_name_is_an_error(self):
        done = packer("verify", [b".\\quillbox.exe\0.txt"])
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("NUL character at offset", done.stderr)

    def test_names_inside_the_folder_pass(self):
        done = packer("verify", [b".\\quillbox.exe", b"sub\\x.dll", b"..x"])
        self.assertEqual(done.returncode, 0, done)
        self.assertIn("ok: 3 entries", done.stdout)


class Unpack(unittest.TestCase):
    def test_refuses_before_writing_anything(self):
        done = packer("unpack", [b".\\quillbox.exe", b"sub\\con .txt"])
        self.assertEqual(done.returncode, 1, done)
        self.assertIn("is a Windows device name", done.stderr)
        self.assertFalse(done.unpacked)


def run(*args):
    return subprocess.run([PACKER] + [str(a) for a in args], capture_output=True, text=True, errors="replace")


class ListJson(unittest.TestCase):
    def test_every_entry_in_order_with_names_escaped_and_damage_as_null(self):
        names = [".\\quillbox.exe", "sub\\\"quoted\" back\\slash\x01\x1f\ttab é 😀.txt".encode(), b"bad \xff byte"]
        contents = [b"program", b"", b"x" * 5000]
        streams = [brotli.compress(content, quality=5) for content in contents]
        damaged = streams[2][:-3]
        expected_entries = [{"name": (name if isinstance(name, str) else name.decode("utf-8", "replace")),
                             "compressed_size": len(stream), "plain_size": len(content),
                             "md5": hashlib.md5(content).hexdigest()}
                            for name, content, stream in zip(names, contents, streams)]
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "app.bin"
            for what, last_stream, status in (("whole", streams[2], 0), ("last entry damaged", damaged, 1)):
                with self.subTest(what):
                    entries = list(zip(names, contents, streams[:2] + [last_stream]))
                    path.write_bytes(payload_of(entries))
                    done = run("list", path, "--json")
                    self.assertEqual(done.returncode, status, done.stderr)
                    listing = json.loads(done.stdout)
                    wanted = [dict(entry) for entry in expected_entries]
                    wanted[2]["compressed_size"] = len(last_stream)
                    if status:
                        wanted[2]["plain_size"] = None
                        self.assertTrue(done.stderr.endswith("quillbox-pack: 1 of 3 entries do not decode\n"),
                                        done.stderr)
                    self.assertEqual(listing, {"launcher": False, "launch_path": ".\\quillbox.exe",
                                               "entries": wanted, "icon": [], "version": None,
                                               "exit_code": None})


def project_version():
    return re.search(r"project\(quillbox VERSION (\S+)", (SOURCE / "CMakeLists.txt").read_text()).group(1)


class CommandLineConventions(unittest.TestCase):
    def test_version_and_help_go_to_standard_output_with_status_0(self):
        version = "quillbox-pack %s (brotli " % project_version()
        for args in (["--version"], ["-V"]):
            done = run(*args)
            self.assertEqual((done.returncode, done.stderr), (0, ""), args)
            self.assertRegex(done.stdout, "^" + re.escape(version) + r"\d+\.\d+\.\d+\)\n$")
        overview = run("--help").stdout
        self.assertEqual([(done.returncode, done.stdout) for done in (run("-h"), run("help"))], [(0, overview)] * 2)
        for command in ("build", "pack", "list", "verify", "unpack"):
            with self.subTest(command):
                asked = [run("help", command), run(command, "--help"), run(command, "x", "-h")]
                self.assertEqual({(done.returncode, done.stdout, done.stderr) for done in asked},
                                 {(0, asked[0].stdout, "")})
                self.assertTrue(asked[0].stdout.startswith("usage: quillbox-pack %s " % command), asked[0].stdout)

    def test_a_mistake_is_one_line_and_a_pointer_to_the_help(self):
        with tempfile.TemporaryDirectory() as folder:
            missing = pathlib.Path(folder) / "no such folder"
            out = pathlib.Path(folder) / "app.exe"
            real = pathlib.Path(folder) / "real.txt"
            real.write_bytes(b"x")
            cases = [
                # arguments, status, standard error
                ([], 2, "no command given", ""),
                (["frobnicate"], 2, "unknown command frobnicate", ""),
                (["help", "frobnicate"], 2, "unknown command frobnicate", ""),
                (["build", folder, "-o", out, "--frob"], 2, "unknown option --frob", "build "),
                (["pack", out, folder, "--quality", "12"], 2, "--quality needs a whole number from 0 to 11", "pack "),
                (["list"], 2, "list takes one payload file", "list "),
                (["unpack", "a", "--force", "b"], 2, "unknown option --force", "unpack "),
                (["build", missing, "-o", out], 1, '"%s": no such file or folder' % missing, None),
                (["build", real, "-o", out, "--stub", missing], 1, '"%s": no such file or folder' % missing, None),
                (["build", real, "-o", out, "--version-from", missing], 1, '"%s": no such file or folder' % missing, None),
                (["pack", out, "--files", real, missing], 1, '"%s": no such file or folder' % missing, None),
                (["verify", missing], 1, '"%s": no such file or folder' % missing, None),
            ]
            for args, status, mistake, command in cases:
                with self.subTest(args=args):
                    done = run(*args)
                    expected = "quillbox-pack: %s\n" % mistake
                    if command is not None:
                        expected += "Try 'quillbox-pack %s--help' for more information.\n" % command
                    self.assertEqual((done.returncode, done.stdout, done.stderr), (status, "", expected))
                    self.assertFalse(out.exists())


if __name__ == "__main__":
    sys.exit(unittest.main())

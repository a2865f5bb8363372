"""Bringing %LOCALAPPDATA%\\quillbox up to date, seen from outside."""
import hashlib
import os
import unittest

from harness import (APP_DIR, APP_DIR_WIN, FAST_FAIL_STATUS, LauncherTestCase, folder_contents, launcher, payload,
                     probe_bytes, run, set_local_appdata)

LIBRARY = bytes(range(256)) * 300


def shipped_shape():
    return payload([(".\\quillbox.exe", probe_bytes()), (".\\quillbox_greeting.dll", LIBRARY)])


def expected_files():
    return {"quillbox.exe": probe_bytes(), "quillbox_greeting.dll": LIBRARY}


class Extraction(LauncherTestCase):
    def test_first_run_is_silent_and_second_run_skips_every_entry(self):
        exe = launcher(shipped_shape())
        first = run(exe)
        self.assertEqual(first.status, 0, first)
        self.assertEqual(first.stdout, "executing %s\\.\\quillbox.exe\nprobe: running\n" % APP_DIR_WIN)
        self.assertEqual(first.stderr, "")
        self.assertEqual(folder_contents(), expected_files())

        times = {p.name: p.stat().st_mtime_ns for p in APP_DIR.iterdir()}
        second = run(exe)
        self.assertEqual(second.stdout.splitlines()[:2], ["skip .\\quillbox.exe", "skip .\\quillbox_greeting.dll"])
        self.assertEqual({p.name: p.stat().st_mtime_ns for p in APP_DIR.iterdir()}, times)

    def test_edited_file_is_reported_and_restored_deleted_file_silently(self):
        exe = launcher(shipped_shape())
        run(exe)
        (APP_DIR / "quillbox_greeting.dll").write_bytes(b"edited")
        edited = run(exe)
        self.assertEqual(edited.stdout.splitlines()[:3], [
            "skip .\\quillbox.exe",
            "writing %s\\.\\quillbox_greeting.dll" % APP_DIR_WIN,
            "%s -> %s" % (hashlib.md5(LIBRARY).hexdigest(), hashlib.md5(b"edited").hexdigest()),
        ])
        self.assertEqual(folder_contents(), expected_files())

        (APP_DIR / "quillbox_greeting.dll").unlink()
        deleted = run(exe)
        self.assertEqual(deleted.stdout.splitlines()[0], "skip .\\quillbox.exe")
        self.assertNotIn("writing", deleted.stdout)
        self.assertEqual(folder_contents(), expected_files())

    def test_install_mode_empties_the_folder_first(self):
        exe = launcher(shipped_shape())
        run(exe)
        (APP_DIR / "extra.txt").write_bytes(b"left by the user")
        (APP_DIR / "sub").mkdir()
        (APP_DIR / "sub" / "ro.txt").write_bytes(b"read-only")
        os.chmod(APP_DIR / "sub" / "ro.txt", 0o444)
        normal = run(exe)
        self.assertTrue((APP_DIR / "extra.txt").exists(), normal)

        install = run(exe, ["--silent-install"])
        self.assertEqual(install.status, 0, install)
        self.assertNotIn("skip", install.stdout)
        self.assertEqual(folder_contents(), expected_files())

    def test_install_mode_without_a_folder_is_a_first_run(self):
        exe = launcher(shipped_shape(), name="quillbox-install.exe")
        done = run(exe)
        self.assertEqual(done.status, 0, done)
        self.assertEqual(done.stdout, "executing %s\\.\\quillbox.exe\nprobe: running\n" % APP_DIR_WIN)
        self.assertEqual(folder_contents(), expected_files())

    def test_unusual_entries(self):
        long_name = ".\\" + "\\".join(["d" * 60] * 4) + "\\long.bin"
        exe = launcher(payload([
            (".\\quillbox.exe", probe_bytes()),
            (".\\empty.bin", b""),
            (".\\sub\\deeper\\data.bin", b"nested"),
            (".\\upper.bin", b"upper", None, hashlib.md5(b"upper").hexdigest().upper().encode()),
            (long_name, b"far away"),
        ]))
        first = run(exe)
        self.assertEqual(first.status, 0, first)
        files = folder_contents()
        self.assertEqual(files["empty.bin"], b"")
        self.assertEqual(files["sub/deeper/data.bin"], b"nested")
        self.assertEqual(files[long_name[2:].replace("\\", "/")], b"far away")
        self.assertGreater(len(APP_DIR_WIN + long_name), 260)

        again = run(exe)
        lines = again.stdout.splitlines()
        self.assertIn("skip .\\empty.bin", lines)
        self.assertIn("skip " + long_name, lines)
        # An upper-case stored digest never matches: rewritten on every run.
        self.assertIn("writing %s\\.\\upper.bin" % APP_DIR_WIN, lines)
        self.assertIn("%s -> %s" % (hashlib.md5(b"upper").hexdigest().upper(), hashlib.md5(b"upper").hexdigest()), lines)

    def test_a_folder_where_a_file_belongs_is_a_fatal_stop(self):
        exe = launcher(shipped_shape())
        (APP_DIR / "quillbox_greeting.dll").mkdir(parents=True)
        done = run(exe)
        self.assertEqual(done.status, FAST_FAIL_STATUS, done)
        self.assertIn("failed to read \"%s\\.\\quillbox_greeting.dll\"" % APP_DIR_WIN, done.stderr)
        self.assertIn("(os error", done.stderr)
        self.assertNotIn("executing", done.stdout)

    def test_missing_local_application_data_folder_ends_the_run_quietly(self):
        exe = launcher(shipped_shape())
        app_exe = launcher(shipped_shape(), options=("--exit-code", "app"))
        # Pointing the user's Local AppData shell folder at a missing drive makes
        # the known-folder lookup fail, as it does for a user without a profile.
        set_local_appdata("Q:\\nowhere")
        try:
            done = run(exe)
            # With --exit-code app a start that started nothing is no success:
            # HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), all 32 bits through start.exe.
            app_done = run(app_exe, full_status=True)
        finally:
            set_local_appdata("%USERPROFILE%\\AppData\\Local")
        for run_done, status in ((done, 0), (app_done, 0x80070003)):
            self.assertEqual(run_done.status, status, run_done)
            self.assertEqual(run_done.stderr, "not found data local dir\n")
            self.assertEqual(run_done.stdout, "")
        self.assertFalse(APP_DIR.exists())

    def test_an_entry_that_does_not_decode_stops_before_touching_its_file(self):
        exe = launcher(payload([(".\\quillbox.exe", probe_bytes()), (".\\bad.bin", b"content", b"\xff\xff\xff\xff")]))
        done = run(exe)
        self.assertEqual(done.status, FAST_FAIL_STATUS, done)
        self.assertIn("brotli decoder error", done.stderr)
        self.assertFalse((APP_DIR / "bad.bin").exists())
        self.assertEqual((APP_DIR / "quillbox.exe").read_bytes(), probe_bytes())

    def test_a_nul_in_a_name_or_the_launch_path_stops_before_anything_on_disk(self):
        # Win32 calls stop at the NUL: the name would overwrite the main exe, and
        # the launch path would start it with every argument dropped.
        hostile_name = b".\\quillbox.exe\0.txt"
        with_name = payload([(".\\quillbox.exe", probe_bytes()), (hostile_name, b"not the exe")])
        entry = with_name.index(hostile_name) - 4
        hostile_exe = b".\\quillbox.exe\0x"
        with_exe = payload([(".\\quillbox.exe", probe_bytes())], exe=hostile_exe)
        start = len(with_exe) - len(hostile_exe)
        for what, bytes_, report in (
                ("name", with_name, "name of the entry at offset %d: NUL character at offset %d" % (entry, entry + 18)),
                ("launch path", with_exe, "launch path at offset %d: NUL character at offset %d" % (start, start + 14))):
            with self.subTest(what):
                done = run(launcher(bytes_), ["--keep", "these"])
                self.assertEqual(done.status, FAST_FAIL_STATUS, done)
                self.assertIn(report, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertFalse(APP_DIR.exists())

    def test_install_mode_removes_a_tree_deeper_than_the_classic_path_limit(self):
        # Created one missing folder at a time, removed from the extended-length form.
        deep_name = ".\\" + "\\".join(["level%03d" % i for i in range(400)]) + "\\deep.bin"
        exe = launcher(payload([(".\\quillbox.exe", probe_bytes()), (deep_name, b"deep")]))
        first = run(exe)
        self.assertEqual(first.status, 0, first)
        deep_file = APP_DIR.joinpath(*deep_name[2:].split("\\"))
        self.assertEqual(deep_file.read_bytes(), b"deep")
        self.assertGreater(len(APP_DIR_WIN + deep_name), 3000)
        (deep_file.parent / "extra.txt").write_bytes(b"left by the user")
        os.chmod(deep_file.parent / "extra.txt", 0o444)
        install = run(exe, ["--silent-install"])
        self.assertEqual(install.status, 0, install)
        self.assertFalse((deep_file.parent / "extra.txt").exists())
        self.assertEqual(len(folder_contents()), 2)


if __name__ == "__main__":
    unittest.main()

"""Start modes, the child's arguments, environment, handles, and launch failures."""
import os
import subprocess
import unittest

from harness import (APP_DIR, APP_DIR_WIN, FAST_FAIL_STATUS, PREFIX, WINE, LauncherTestCase, PeImage, launcher,
                     payload, probe_bytes, read_record, record_path, reset_app_dir, run, to_windows, wine_environment)


def probe_payload(exe=".\\quillbox.exe", name=".\\quillbox.exe"):
    return payload([(name, probe_bytes())], exe=exe)


class Launch(LauncherTestCase):
    def launch(self, exe, env=None, **kwargs):
        record = record_path()
        env = dict(env or {})
        env["QUILLBOX_PROBE_RECORD"] = to_windows(record)
        done = run(exe, env=env, **kwargs)
        self.assertEqual(done.status, 0, done)
        self.assertTrue(record.exists(), done)
        return done, read_record(record)

    def test_arguments_by_name_and_as_given(self):
        install = launcher(probe_payload(), name="quillbox-1.0-INSTALL.exe")
        quick = launcher(probe_payload(), name="quillbox-QS.EXE")
        plain = launcher(probe_payload(), name="quillbox.exe")
        app = APP_DIR_WIN + "\\.\\quillbox.exe"
        cases = [
            (install, None, [app, "--install"]),
            (install, ["x"], [app, "x"]),
            (install, ["--silent-install"], [app, "--silent-install"]),
            (quick, None, [app, "--quick_support"]),
            (quick, ["--install"], [app, "--install"]),
            (plain, None, [app]),
            (plain, ["a b", "", 'say"hi', "C:\\dir\\", "C:\\my dir\\", "\u00e9\U0001F600", "--SILENT-INSTALL"],
             None),
        ]
        for exe, args, want in cases:
            with self.subTest(exe=exe.name, args=args):
                _, record = self.launch(exe, args=args or [])
                self.assertEqual(record["argv"], want or [app] + args)
                self.assertEqual(record["shell_argv"], want or [app] + args)
                self.assertTrue(record["command_line"].startswith('"%s"' % app))

    def test_exact_command_lines(self):
        exe = launcher(probe_payload())
        app = APP_DIR_WIN + "\\.\\quillbox.exe"
        cases = [
            ('"%s"' % to_windows(exe), '"%s"' % app),
            ('"%s" a"b c"d \\\\\\"x "" "q ""w"" e" trail\\' % to_windows(exe),
             '"%s" "ab cd" \\\\\\"x "" "q \\"w\\" e" trail\\' % app),
            ('"%s" "C:\\my dir\\\\"' % to_windows(exe), '"%s" "C:\\my dir\\\\"' % app),
        ]
        for line, child_line in cases:
            with self.subTest(line=line):
                _, record = self.launch(exe, command_line=line)
                self.assertEqual(record["command_line"], child_line)

    def test_name_tests_see_the_first_word_as_written(self):
        exe = launcher(probe_payload(), name="quillbox-install.exe")
        app = APP_DIR_WIN + "\\.\\quillbox.exe"
        without_suffix = to_windows(exe)[:-len(".exe")]
        _, record = self.launch(exe, command_line='"%s"' % without_suffix)
        self.assertEqual(record["argv"], [app])  # "quillbox-install" has no .exe: no flag
        environment = dict(e.split("=", 1) for e in record["environment"] if not e.startswith("="))
        self.assertEqual(environment["QUILLBOX_APPNAME"], "quillbox-install.exe")

    def test_an_empty_command_line_takes_the_module_path_for_the_name_tests(self):
        exe = launcher(probe_payload(), name="quillbox-install.exe")
        _, record = self.launch(exe, command_line="")
        self.assertEqual(record["argv"][1:], ["--install"])

    def test_environment_current_directory_and_output(self):
        exe = launcher(probe_payload(), name="my launcher.exe")
        workdir = PREFIX / "drive_c" / "e2e" / "work dir"
        workdir.mkdir(parents=True, exist_ok=True)
        done, record = self.launch(exe, env={"quillbox_appname": "old", "QB_TEST_Mixed": "1"}, cwd=str(workdir))
        names = [e.split("=", 1)[0] for e in record["environment"]]
        self.assertIn("quillbox_appname=my launcher.exe", record["environment"])
        self.assertNotIn("QUILLBOX_APPNAME", names)
        self.assertIn("QB_TEST_Mixed=1", record["environment"])
        upper = [n.upper() for n in names]
        self.assertEqual(len(upper), len(set(upper)), "one entry per name")
        self.assertEqual(record["cwd"].rstrip("\\").lower(), to_windows(workdir).lower())
        self.assertEqual(done.stdout, "executing %s\\.\\quillbox.exe\nprobe: running\n" % APP_DIR_WIN)
        self.assertTrue(record["stdout"] and record["stderr"])

    def test_shell_and_com_stay_loaded_in_the_launcher(self):
        # Loaded once for the known-folder lookup and kept: unloading shell32
        # after it has registered callbacks is a hazard for nothing gained.
        _, record = self.launch(launcher(probe_payload()))
        modules = [m.lower() for m in record["parent_modules"]]
        self.assertIn("quillbox.exe", modules, "the probe sees its parent's modules")
        self.assertIn("shell32.dll", modules)
        self.assertIn("ole32.dll", modules)

    def test_environment_block_is_in_the_systems_own_order(self):
        # Names that differ only by case, by '_' against letters, and by
        # non-ASCII letters, judged by CompareStringOrdinal in the child itself.
        exe = launcher(probe_payload())
        env = {"QB_ORDER_b": "1", "qb_order_B": "2", "QB_ORDER_AB": "3", "QB_ORDER_A_B": "4", "QB_ORDER_AZ": "5",
               "QB_ORDER_\u00e9": "6", "QB_ORDER_\u00c9": "7", "QB_ORDER_\u03c9": "8", "QB_ORDER_Z": "9",
               "QB_ORDER_[": "10", "LC_ALL": "C.UTF-8"}
        _, record = self.launch(exe, env=env)
        self.assertEqual(record["environment_unordered"], [])
        names = [e.split("=", 1)[0].upper() for e in record["environment"] if e.upper().startswith("QB_ORDER")]
        self.assertEqual(len(names), len(set(names)), "one entry per name")
        self.assertEqual(len(names), 8, names)

    def test_the_application_status_is_the_launchers_only_with_exit_code_app(self):
        # Seen through start.exe, which reports all 32 bits; the start modes
        # share the one exit path, so each case takes another.
        default = launcher(probe_payload())
        app = {name: launcher(probe_payload(), name=name, options=("--exit-code", "app"))
               for name in ("quillbox.exe", "quillbox-install.exe", "quillbox-qs.exe")}
        crash = {"QUILLBOX_PROBE_CRASH": "1"}
        cases = [
            (default, [], {"QUILLBOX_PROBE_EXIT": "3"}, 0),
            (default, [], crash, 0),
            (app["quillbox.exe"], ["--silent-install"], {"QUILLBOX_PROBE_EXIT": "0"}, 0),
            (app["quillbox-install.exe"], [], {"QUILLBOX_PROBE_EXIT": "3"}, 3),
            (app["quillbox-qs.exe"], [], crash, 0xC0000005),  # an access violation
        ]
        for exe, args, env, status in cases:
            with self.subTest(exe=exe.name, args=args, env=env):
                done = run(exe, args=args, env=env, full_status=True)
                self.assertEqual(done.status, status, done)
                self.assertIn("probe: running\n", done.stdout)

    def test_launch_path_without_exe_starts_the_exe_beside_it(self):
        exe = launcher(probe_payload(exe=".\\quillbox"))
        done, record = self.launch(exe)
        self.assertEqual(done.stdout.splitlines()[0], "executing %s\\.\\quillbox" % APP_DIR_WIN)
        self.assertTrue(record["module"].lower().endswith("\\quillbox.exe"))

    def test_start_failures(self):
        cases = [
            (probe_payload(exe=".\\missing.exe"), ".\\missing.exe", "(os error 2)"),
            (probe_payload(exe=""), "", "invalid input: program path has no file name"),
        ]
        for data, launch_name, message in cases:
            with self.subTest(exe=launch_name):
                reset_app_dir()
                exe = launcher(data, name="quillbox.exe")
                done = run(exe)
                self.assertEqual(done.status, FAST_FAIL_STATUS, done)
                self.assertEqual(done.stdout, "executing %s\\%s\n" % (APP_DIR_WIN, launch_name))
                self.assertIn('failed to execute "quillbox.exe": ', done.stderr)
                self.assertIn(message, done.stderr)

    def test_without_standard_handles_nothing_is_written_and_nothing_fails(self):
        exe = launcher(probe_payload())
        record = record_path()
        done = run(exe, env={"QUILLBOX_PROBE_RECORD": to_windows(record)}, no_std_handles=True)
        self.assertEqual(done.status, 0, done)
        self.assertEqual(done.stdout + done.stderr, "")
        data = read_record(record)
        self.assertFalse(data["stdin"] or data["stdout"] or data["stderr"], data)


def damaged_exit_code_setting(exe):
    """A copy of `exe` whose exit-code setting names a mode no launcher knows."""
    data = bytearray(exe.read_bytes())
    raw_offset, _, _ = PeImage(bytes(data)).raw[".qbexit"]
    data[raw_offset + 11] = 7
    damaged = exe.with_name("damaged-setting.exe")
    damaged.write_bytes(bytes(data))
    return damaged


class DamagedInput(LauncherTestCase):
    def test_damaged_payloads_stop_before_anything_is_touched(self):
        good = probe_payload()
        # The section lookup and the parser's stop, each once; the parser's own
        # table of damaged payloads is a unit test.
        cases = [
            (launcher(b""), "opening magic: end offset 8 is out of range for the payload's length 0"),  # no section
            (launcher(good[:8] + b"\xff\xff\xff\xff" + good[12:]), "lies after the wrapped name end"),
            (damaged_exit_code_setting(launcher(good, options=("--exit-code", "app"))),
             "exit-code setting: unknown mode 7"),
        ]
        for exe, report in cases:
            with self.subTest(report=report):
                reset_app_dir()
                done = run(exe)
                self.assertEqual(done.status, FAST_FAIL_STATUS, done)
                self.assertIn(report, done.stderr)
                self.assertEqual(done.stdout, "")
                self.assertFalse(APP_DIR.exists())

    def test_a_failed_write_to_a_present_stdout_is_a_fatal_stop(self):
        exe = launcher(probe_payload())
        run(exe)  # the second start has a "skip" line to write
        reader, writer = os.pipe()
        os.close(reader)  # nobody will read: every write fails
        try:
            done = subprocess.run([WINE, str(exe)], env=wine_environment(), stdin=subprocess.DEVNULL, stdout=writer,
                                  stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(writer)
        self.assertEqual(done.returncode, FAST_FAIL_STATUS, done.stderr)
        self.assertIn(b"failed printing to stdout", done.stderr)

    def test_an_unpaired_surrogate_argument_stops_the_run(self):
        exe = launcher(probe_payload())
        done = run(exe, command_line='"%s" ok \ud800x' % to_windows(exe))
        self.assertEqual(done.status, FAST_FAIL_STATUS, done)
        self.assertIn("is not valid Unicode", done.stderr)
        self.assertFalse(APP_DIR.exists())


if __name__ == "__main__":
    unittest.main()

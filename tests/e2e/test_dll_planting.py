"""DLLs planted beside the launcher under the names of system DLLs that a run
loads by name: the launcher takes none of them, while a program with the
default search order does, so the plants themselves are shown to work."""
import re
import shutil
import unittest

from harness import (PROGRAMS, LauncherTestCase, launcher, payload, probe_bytes, run, to_windows)

# Taken through the import table before the launcher's first line runs; on
# Windows they are known DLLs and never looked for beside a program, and Wine
# never loads a native copy of its core.
IMPORTED = {"ntdll.dll", "kernel32.dll", "kernelbase.dll", "msvcrt.dll"}
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"([^"]+)"', re.M)


def launcher_for_this_test():
    # A payload of its own, so that nothing planted here sits beside other tests' launchers.
    return launcher(payload([(".\\quillbox.exe", probe_bytes()), (".\\planting.txt", b"planting")]))


def plant_log(folder):
    log = folder / "planted.log"
    if log.exists():
        log.unlink()
    return log


def planted_names(log):
    """The names under which plants were loaded."""
    if not log.exists():
        return set()
    return {line.rsplit("\\", 1)[-1].lower() for line in log.read_bytes().decode("utf-16-le").splitlines()}


class DllPlanting(LauncherTestCase):
    def loaded_by_the_launcher(self, exe):
        """The DLL file names that the launcher's own process loads during a normal run."""
        done = run(exe, env={"WINEDEBUG": "+pid,+loaddll"})
        self.assertEqual(done.status, 0, done)
        loads = LOADED.findall(done.stderr)
        launcher_pid = next(pid for pid, path in loads if path.lower().endswith(exe.name.lower()))
        return {path.rsplit("\\", 1)[-1].lower() for pid, path in loads if pid == launcher_pid} - {exe.name.lower()}

    def test_no_plant_beside_the_launcher_is_loaded(self):
        exe = launcher_for_this_test()
        names = sorted(self.loaded_by_the_launcher(exe) - IMPORTED)
        self.assertIn("shell32.dll", names)
        folder = exe.parent
        plants = [folder / name for name in names]
        control = folder / "dll_control.exe"
        shutil.copyfile(PROGRAMS / "dll_control.exe", control)
        for plant in plants:
            shutil.copyfile(PROGRAMS / "plant.dll", plant)
        log = plant_log(folder)
        env = {"QUILLBOX_PLANT_LOG": to_windows(log),
               "WINEDLLOVERRIDES": "mscoree,mshtml=;%s=n,b" % ",".join(name[:-4] for name in names)}
        try:
            done = run(exe, env=env)
            self.assertEqual(planted_names(log), set())
            self.assertEqual(done.status, 0, done)

            checked = run(control, names, env=env)
            self.assertEqual(checked.status, 0, checked)
            self.assertEqual(planted_names(log), set(names), "the control program loads every plant")
        finally:
            for plant in plants + [control, log]:
                if plant.exists():
                    plant.unlink()


if __name__ == "__main__":
    unittest.main()

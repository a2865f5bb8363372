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

    def test_a_manifest_beside_the_launcher_is_not_read(self):
        # A manifest file beside an exe without an embedded one is read before
        # the exe's first line: its DLL redirection beats even a system32-only
        # load. The launcher's embedded manifest makes the system ignore it.
        exe = launcher_for_this_test()
        folder = exe.parent
        control = folder / "dll_control.exe"
        shutil.copyfile(PROGRAMS / "dll_control.exe", control)
        plant = folder / "shell32.dll"
        shutil.copyfile(PROGRAMS / "plant.dll", plant)
        manifests = [folder / (name + ".manifest") for name in (exe.name, control.name)]
        for manifest in manifests:
            manifest.write_text(PLANTED_MANIFEST)
        log = plant_log(folder)
        env = {"QUILLBOX_PLANT_LOG": to_windows(log), "WINEDLLOVERRIDES": "mscoree,mshtml=;shell32=n,b"}
        try:
            checked = run(control, ["--system32", "shell32.dll"], env=env)
            self.assertEqual(checked.status, 0, checked)
            if planted_names(log) != {"shell32.dll"}:
                self.skipTest("this Wine does not redirect DLLs through a manifest beside the program")
            log.unlink()
            done = run(exe, env=env)
            self.assertEqual(planted_names(log), set())
            self.assertEqual(done.status, 0, done)
            self.assertIn("executing", done.stdout)
        finally:
            for path in manifests + [plant, control, log]:
                if path.exists():
                    path.unlink()


# Names shell32 as a file of the program's own assembly, to be loaded from its folder.
PLANTED_MANIFEST = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="planted.application" version="1.0.0.0"/>
  <file name="shell32.dll"/>
</assembly>
"""


if __name__ == "__main__":
    unittest.main()

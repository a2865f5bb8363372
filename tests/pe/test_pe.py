"""Checks the built launcher as a file: a 32-bit GUI executable whose only
resources are its icon group and a manifest that declares nothing, which imports only Windows system DLLs, carries its
payload in a read-only section of its own and has a valid checksum; and the
stub beside it, which has room for that section's header."""
import os
import pathlib
import struct
import sys
import unittest
from xml.etree import ElementTree

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from quillbox_files import PeImage  # noqa: E402

LAUNCHER = os.environ.get("QUILLBOX_LAUNCHER", "quillbox.exe")
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll", "advapi32.dll", "user32.dll",
               "ws2_32.dll", "crypt32.dll", "bcrypt.dll", "ntdll.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PAYLOAD_SECTION = ".qbpayld"
SCN_CNT_CODE, SCN_CNT_INITIALIZED_DATA = 0x20, 0x40
SCN_MEM_EXECUTE, SCN_MEM_READ, SCN_MEM_WRITE = 0x20000000, 0x40000000, 0x80000000


class LauncherImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(LAUNCHER, "rb") as f:
            cls.image = PeImage(f.read())

    def test_32_bit_gui_executable(self):
        self.assertEqual(self.image.machine, 0x14C)  # i386
        self.assertEqual(self.image.magic, 0x10B)  # PE32
        self.assertEqual(self.image.subsystem, 2)  # Windows GUI
        self.assertTrue(self.image.file_characteristics & 0x0020, "not large address aware")

    def test_imports_only_system_dlls(self):
        imports = {name.lower() for name in self.image.imports()}
        self.assertTrue(imports)
        self.assertLessEqual(imports, SYSTEM_DLLS)
        # Everything else is loaded from system32 by name once the DLL search is
        # restricted: an imported DLL would be looked for beside the launcher first.
        self.assertEqual(imports, {"kernel32.dll", "msvcrt.dll"})

    def test_one_icon_group_of_one_48px_png_icon_and_the_minimal_manifest(self):
        resources = self.image.resources()
        self.assertEqual(set(resources), {RT_ICON, RT_GROUP_ICON, RT_MANIFEST})
        self.assertNotIn(RT_VERSION, resources)
        # Embedded, so that a manifest file planted beside the launcher is not
        # read; it declares nothing, no execution level in particular.
        self.assertEqual(list(resources[RT_MANIFEST]), [1])
        manifest = ElementTree.fromstring(resources[RT_MANIFEST][1])
        self.assertEqual(manifest.tag, "{urn:schemas-microsoft-com:asm.v1}assembly")
        self.assertEqual(manifest.attrib, {"manifestVersion": "1.0"})
        self.assertEqual(list(manifest), [])
        self.assertEqual(list(resources[RT_GROUP_ICON]), ["QUILLBOX_ICON"])
        group = resources[RT_GROUP_ICON]["QUILLBOX_ICON"]
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        self.assertEqual((width, height, bits), (48, 48, 32))
        icon = resources[RT_ICON][icon_id]
        self.assertEqual(len(icon), size)
        self.assertTrue(icon.startswith(PNG_SIGNATURE))
        ihdr_width, ihdr_height, depth, color = struct.unpack_from(">IIBB", icon, 16)
        self.assertEqual((ihdr_width, ihdr_height, depth, color), (48, 48, 8, 6))  # 8-bit RGBA


    def test_payload_in_a_read_only_section_of_its_own_at_the_end(self):
        image = self.image
        self.assertEqual([s[0] for s in image.sections].count(PAYLOAD_SECTION), 1)
        self.assertEqual(image.sections[-1][0], PAYLOAD_SECTION)
        flags = image.characteristics[PAYLOAD_SECTION]
        self.assertEqual(flags & (SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ), SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ)
        self.assertEqual(flags & (SCN_CNT_CODE | SCN_MEM_EXECUTE | SCN_MEM_WRITE), 0)
        raw_offset, raw_size, virtual_size = image.raw[PAYLOAD_SECTION]
        # Page-sized file alignment lets the loader map the payload instead of copying it.
        self.assertEqual(image.file_alignment, 4096)
        self.assertEqual(raw_offset % image.file_alignment, 0)
        self.assertEqual(raw_offset + raw_size, len(image.data))
        self.assertLessEqual(virtual_size, raw_size)
        self.assertEqual(image.data[raw_offset:raw_offset + 8], b"quillbox")
        _, vaddr, _, _ = image.sections[-1]
        self.assertEqual(image.size_of_image, vaddr + -(-virtual_size // image.section_alignment) * image.section_alignment)

    def test_checksum_is_valid(self):
        self.assertNotEqual(self.image.checksum, 0)
        self.assertEqual(self.image.checksum, self.image.computed_checksum())


class StubImage(unittest.TestCase):
    """The payload-less launcher beside the built one: the same program with no
    payload section and room in its headers for one."""

    def test_no_payload_section_and_room_for_one(self):
        stub_path = os.path.join(os.path.dirname(os.path.abspath(LAUNCHER)), "quillbox-stub.exe")
        with open(stub_path, "rb") as f:
            stub = PeImage(f.read())
        self.assertNotIn(PAYLOAD_SECTION, [s[0] for s in stub.sections])
        first_data = min(raddr for _, _, _, raddr in stub.sections if raddr)
        room_end = stub.section_table_end + 3 * 40  # resources, the exit-code setting, the payload
        self.assertLessEqual(room_end, min(stub.size_of_headers, first_data))
        self.assertEqual(stub.data[stub.section_table_end:room_end], bytes(3 * 40))
        self.assertEqual(stub.directories[4], (0, 0))  # not signed: signing comes after packing
        # Built without options, the launcher has the stub's sections and the payload's, nothing more.
        with open(LAUNCHER, "rb") as f:
            launcher = PeImage(f.read())
        self.assertEqual([s[0] for s in launcher.sections], [s[0] for s in stub.sections] + [PAYLOAD_SECTION])


if __name__ == "__main__":
    if len(sys.argv) > 1:
        LAUNCHER = sys.argv.pop(1)
    unittest.main()

"""Checks the built launcher as a file: a 32-bit GUI executable whose only
resources are its icon group and a manifest that declares nothing, which imports only Windows system DLLs, carries its
payload in a read-only section of its own and has a valid checksum; and the
stub beside it, which has room for that section's header."""
import os
import struct
import sys
import unittest
from xml.etree import ElementTree

LAUNCHER = os.environ.get("QUILLBOX_LAUNCHER", "quillbox.exe")
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll", "advapi32.dll", "user32.dll",
               "ws2_32.dll", "crypt32.dll", "bcrypt.dll", "ntdll.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
PAYLOAD_SECTION = ".qbpayld"
SCN_CNT_CODE, SCN_CNT_INITIALIZED_DATA = 0x20, 0x40
SCN_MEM_EXECUTE, SCN_MEM_READ, SCN_MEM_WRITE = 0x20000000, 0x40000000, 0x80000000


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        (self.machine, sections, _, _, _, optional_size,
         self.file_characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.section_alignment, self.file_alignment = struct.unpack_from("<II", data, opt + 32)
        self.size_of_image, self.size_of_headers, self.checksum = struct.unpack_from("<III", data, opt + 56)
        self.checksum_offset = opt + 64
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        directories = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        self.section_table_end = opt + optional_size + 40 * sections
        self.characteristics, self.raw = {}, {}
        for i in range(sections):
            at = opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, vaddr, max(vsize, rsize), raddr))
            self.characteristics[name] = struct.unpack_from("<I", data, at + 36)[0]
            self.raw[name] = (raddr, rsize, vsize)

    def computed_checksum(self):
        """The PE checksum as Windows computes it: 16-bit words summed with the
        carry folded back, the checksum field read as zero, plus the file length."""
        data = bytearray(self.data)
        data[self.checksum_offset:self.checksum_offset + 4] = b"\0\0\0\0"
        if len(data) % 2:
            data.append(0)
        total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
        while total > 0xFFFF:
            total = (total & 0xFFFF) + (total >> 16)
        return (total + len(self.data)) & 0xFFFFFFFF

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("RVA %#x is in no section" % rva)

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode()

    def imports(self):
        rva, _ = self.directories[1]
        names, at = [], self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, at)
            if not any(fields):
                return names
            names.append(self.c_string(fields[3]))
            at += 20

    def resources(self):
        """{type: {name: data}} of the first language of each resource."""
        base_rva, _ = self.directories[2]
        if base_rva == 0:
            return {}
        base = self.offset(base_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        out = {}
        for kind, names in entries(base):
            out[kind] = {}
            for name, languages in entries(base + (names & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (languages & 0x7FFFFFFF)))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                out[kind][name] = self.data[self.offset(rva):self.offset(rva) + size]
        return out


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
        room_end = stub.section_table_end + 40
        self.assertLessEqual(room_end, min(stub.size_of_headers, first_data))
        self.assertEqual(stub.data[stub.section_table_end:room_end], bytes(40))
        self.assertEqual(stub.directories[4], (0, 0))  # not signed: signing comes after packing


if __name__ == "__main__":
    if len(sys.argv) > 1:
        LAUNCHER = sys.argv.pop(1)
    unittest.main()

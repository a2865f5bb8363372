"""What the Python tests and the benchmarks make and read: payloads in the
launcher's format, and PE images read field by field."""
import hashlib
import struct

import brotli

MAGIC = b"quillbox"


def payload(entries, exe=".\\quillbox.exe"):
    """Builds a payload from (name, content) pairs, or (name, content, stream, digest)
    for entries whose stream or digest a test wants to damage; names may be bytes."""
    out = bytearray(MAGIC)
    for entry in entries:
        name, content = entry[0], entry[1]
        stream = entry[2] if len(entry) > 2 and entry[2] is not None else brotli.compress(content, quality=5, lgwin=22)
        digest = entry[3] if len(entry) > 3 else hashlib.md5(content).hexdigest().encode()
        name_bytes = name.encode() if isinstance(name, str) else name
        out += struct.pack(">I", len(name_bytes)) + name_bytes + struct.pack(">I", len(stream)) + stream + digest
    out += MAGIC
    out += exe.encode() if isinstance(exe, str) else exe
    return bytes(out)


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
        self.directories_offset = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, self.directories_offset + 8 * i) for i in range(16)]
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


def icon_bitmap(size, bits):
    """An icon image as a bitmap: header, palette (8 bits or fewer), colour rows, mask rows."""
    colors = 1 << bits if bits <= 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, colors, 0)
    palette = b"".join(struct.pack("<BBBB", i % 256, (i * 7) % 256, (i * 13) % 256, 0) for i in range(colors))
    color_row = (size * bits + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    pixels = bytes((x * 31 + size) % 256 for x in range(color_row * size))
    return header + palette + pixels + bytes(mask_row * size)


def icon_png(size):
    """An icon image as an 8-bit RGBA PNG."""
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes((x + y) % 256 for x in range(4 * size)) for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def ico_file(images):
    """An .ico file of (size, bits, image bytes) entries; size 256 is written as 0."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colors = 1 << bits if bits < 8 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colors, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)

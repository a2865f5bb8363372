#!/usr/bin/env python3
"""Writes FOLDER/SHA256SUMS: the SHA-256 of every other file directly in the
folder, one "DIGEST  NAME" line each in name order, as `sha256sum -c` reads it
(run in the folder). The file's bytes depend only on the files.

    write-checksums.py FOLDER
"""
import hashlib
import pathlib
import sys

SUMS = "SHA256SUMS"


def digest(path):
    sha = hashlib.sha256()
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            sha.update(block)
    return sha.hexdigest()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n\n")[1])
    folder = pathlib.Path(sys.argv[1])
    if not folder.is_dir():
        sys.exit("write-checksums: %s is not a folder" % folder)
    names = sorted(p.name for p in folder.iterdir() if p.name != SUMS)
    for name in names:
        if not (folder / name).is_file() or "\n" in name or "\\" in name:
            sys.exit("write-checksums: %s is not a plain file with a plain name" % (folder / name))
    lines = "".join("%s  %s\n" % (digest(folder / name), name) for name in names)
    (folder / SUMS).write_text(lines, encoding="utf-8", newline="\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Packs one folder into a release archive whose bytes depend only on the files'
contents and names: members in sorted order, every time stamp the release time,
owner and group 0 (root), modes 0755 for folders and programs and 0644 for the
rest, and no time or name in the gzip header.

    make-archive.py FOLDER OUT.tar.gz|OUT.zip

FOLDER becomes the archive's top folder. The release time is SOURCE_DATE_EPOCH
(seconds since 1970), else the time of the last commit of the source tree.
"""
import gzip
import io
import os
import pathlib
import subprocess
import sys
import tarfile
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01: a zip cannot hold an earlier time


def release_time():
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    tree = pathlib.Path(__file__).resolve().parent.parent
    done = subprocess.run(["git", "-C", str(tree), "log", "-1", "--format=%ct"], capture_output=True, text=True)
    if done.returncode != 0 or not done.stdout.strip():
        sys.exit("make-archive: set SOURCE_DATE_EPOCH: the source tree has no commit to take the time from")
    return int(done.stdout.strip())


def members(folder):
    """(name inside the archive, path) for the folder and everything under it, sorted by name."""
    top = folder.name
    found = [(top, folder)]
    for path in folder.rglob("*"):
        if path.is_symlink() or not (path.is_dir() or path.is_file()):
            sys.exit("make-archive: %s is neither a file nor a folder" % path)
        found.append((top + "/" + path.relative_to(folder).as_posix(), path))
    return sorted(found)


def mode_of(path):
    return 0o755 if path.is_dir() or os.access(path, os.X_OK) else 0o644


def write_tar_gz(folder, out, mtime):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name, path in members(folder):
            info = tarfile.TarInfo(name)
            info.mtime, info.mode = mtime, mode_of(path)
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if path.is_dir():
                info.type = tarfile.DIRTYPE
                tar.addfile(info)
            else:
                info.size = path.stat().st_size
                with open(path, "rb") as content:
                    tar.addfile(info, content)
    with open(out, "wb") as file, gzip.GzipFile(filename="", fileobj=file, mode="wb", compresslevel=9, mtime=0) as gz:
        gz.write(raw.getvalue())


def write_zip(folder, out, mtime):
    date_time = time.gmtime(max(mtime, ZIP_EARLIEST))[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for name, path in members(folder):
            info = zipfile.ZipInfo(name + "/" if path.is_dir() else name, date_time)
            info.create_system = 3  # Unix, so that the modes below are read
            info.external_attr = ((0o40000 if path.is_dir() else 0o100000) | mode_of(path)) << 16
            if path.is_dir():
                info.external_attr |= 0x10  # the MS-DOS folder flag
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, path.read_bytes(), compresslevel=9)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    folder, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    if not folder.is_dir():
        sys.exit("make-archive: %s is not a folder" % folder)
    out.parent.mkdir(parents=True, exist_ok=True)
    if out.name.endswith(".tar.gz"):
        write_tar_gz(folder, out, release_time())
    elif out.suffix == ".zip":
        write_zip(folder, out, release_time())
    else:
        sys.exit("make-archive: %s: give a .tar.gz or .zip name" % out)


if __name__ == "__main__":
    main()

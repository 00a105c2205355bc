#!/usr/bin/python3
"""A drive that reads a disc slowly and cannot read some of its files: FUSE
over the disc's mounted folder. Each open waits --delay seconds; a read of a
file whose relative path is a line of --fail-list (read at every open)
fails with EIO. Mounted under the name of the disc's device, so the
program finds the medium's label and serial.

    faulty_drive.py --device /dev/loop0 --delay 0.02 --fail-list F DISC MOUNT
"""
import argparse
import errno
import os
import time
from pathlib import Path

from fusepy import FUSE, FuseOSError, Operations


class FaultyDrive(Operations):
    def __init__(self, root, delay, fail_list):
        self.root, self.delay, self.fail_list = root, delay, Path(fail_list)
        self.failing = {}  # file handle: whether its reads fail

    def _path(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        return {k: getattr(st, k) for k in ("st_mode", "st_size", "st_nlink", "st_uid", "st_gid", "st_atime",
                                            "st_mtime", "st_ctime", "st_ino")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        time.sleep(self.delay)
        fh = os.open(self._path(path), os.O_RDONLY)
        failing = self.fail_list.read_text().splitlines() if self.fail_list.exists() else []
        self.failing[fh] = path.lstrip("/") in failing
        return fh

    def read(self, path, size, offset, fh):
        if self.failing.get(fh):
            raise FuseOSError(errno.EIO)
        return os.pread(fh, size, offset)

    def release(self, path, fh):
        self.failing.pop(fh, None)
        os.close(fh)

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        return {k: getattr(st, k) for k in ("f_bsize", "f_frsize", "f_blocks", "f_bfree", "f_bavail", "f_files",
                                            "f_ffree", "f_namemax")}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--device", required=True)
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--fail-list", required=True)
    parser.add_argument("disc")
    parser.add_argument("mount")
    args = parser.parse_args()
    FUSE(FaultyDrive(args.disc, args.delay, args.fail_list), args.mount, foreground=True, ro=True,
         allow_other=True, fsname=args.device, direct_io=True)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A read-only file system with one file, disk.img, whose bytes are IMAGE's
except that reads touching sectors FIRST to FIRST+COUNT-1 fail with EIO, as a
disk's bad sectors do: a read that starts before them returns the bytes up to
the first one. Every read reaches this process (direct_io), so the failures
are exact to the sector.

usage: failing_fs.py IMAGE MOUNTPOINT FIRST COUNT
"""
import errno
import os
import stat
import sys

import fusepy


class FailingDisk(fusepy.Operations):
    def __init__(self, image, first, count):
        self.fd = os.open(image, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad_begin = first * 512
        self.bad_end = (first + count) * 512

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o555, "st_nlink": 2}
        if path == "/disk.img":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size}
        raise fusepy.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk.img"]

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise fusepy.FuseOSError(errno.EROFS)
        return 0

    def read(self, path, size, offset, fh):
        end = offset + size
        if offset < self.bad_end and end > self.bad_begin:
            if offset >= self.bad_begin:
                raise fusepy.FuseOSError(errno.EIO)
            size = self.bad_begin - offset
        return os.pread(self.fd, size, offset)


if __name__ == "__main__":
    image, mountpoint, first, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    fusepy.FUSE(FailingDisk(image, first, count), mountpoint, foreground=True, ro=True, direct_io=True)

#!/usr/bin/python3
"""A one-file FUSE file system whose read of one sector never returns.

    blocking_fuse.py MOUNTPOINT SECTORS STUCK_SECTOR

MOUNTPOINT/disk.img has SECTORS sectors of 512 bytes; every byte of sector n
is n % 251. A read that touches STUCK_SECTOR waits until the file system is
unmounted, as a failing disk can hold a read. The process stays in the
foreground; it prints "ready" once the file can be read.
"""
import errno
import os
import sys
import threading

from fusepy import FUSE, FuseOSError, Operations

SECTOR = 512


class Disk(Operations):
    def __init__(self, sectors, stuck):
        self.size = sectors * SECTOR
        self.stuck = stuck
        self.never = threading.Event()

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": 0o40555, "st_nlink": 2}
        if path == "/disk.img":
            return {"st_mode": 0o100444, "st_nlink": 1, "st_size": self.size}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk.img"]

    def open(self, path, flags):
        if path != "/disk.img":
            raise FuseOSError(errno.ENOENT)
        return 0

    def read(self, path, size, offset, fh):
        end = min(offset + size, self.size)
        if offset < end and offset // SECTOR <= self.stuck < (end + SECTOR - 1) // SECTOR:
            self.never.wait()
        out = bytearray()
        at = offset
        while at < end:
            n = min(end, (at // SECTOR + 1) * SECTOR) - at
            out += bytes([at // SECTOR % 251]) * n
            at += n
        return bytes(out)


def main():
    mountpoint, sectors, stuck = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    disk = Disk(sectors, stuck)

    def announce():
        # Reported from a thread once the mount answers, so the caller can wait for it.
        while not os.path.exists(os.path.join(mountpoint, "disk.img")):
            threading.Event().wait(0.01)
        print("ready", flush=True)

    threading.Thread(target=announce, daemon=True).start()
    # direct_io: every read reaches the file system as asked, not through the
    # page cache, so the stuck sector is hit by exactly the reads that touch it.
    FUSE(disk, mountpoint, foreground=True, nothreads=False, direct_io=True, ro=True)


if __name__ == "__main__":
    main()

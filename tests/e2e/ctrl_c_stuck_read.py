#!/usr/bin/python3
"""Ctrl-C while the disk holds a read: the real clipsalvage process.

    ctrl_c_stuck_read.py --cli CLIPSALVAGE --imagegen IMAGEGEN

The sample image is served through a user-space file system whose read of
one sector of the indexing pass does not return until the file system goes,
as a failing disk can hold a read in the kernel. The kernel does not let
such a read go, not even for SIGKILL, so the process can only end once the
file system is gone; what the program controls is that it answers at once:

1. `clipsalvage scan IMAGE --json`, one SIGINT once the read is stuck: the
   partial report ("complete": false) comes while the read is still held,
   and the process ends with status 130 once the read is let go.
2. The same with a second SIGINT after the first was taken: no report, and
   the process ends killed by the signal.

Needs root, /dev/fuse and fusepy; exits 77 (skipped) without them.
"""
import argparse
import errno
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

SECTOR = 512
STUCK = 8000130 + 4 * 4096 + 7  # a sector well inside the indexing pass
SKIP = 77


def skip(reason):
    print("skipped: " + reason)
    sys.exit(SKIP)


def serve(image, mountpoint, stuck_file):
    """The file system: MOUNTPOINT/disk.img reads IMAGE, except that a read
    touching STUCK writes STUCK_FILE and then waits for ever."""
    from fusepy import FUSE, FuseOSError, Operations

    size = os.path.getsize(image)
    fd = os.open(image, os.O_RDONLY)
    never = threading.Event()

    class Disk(Operations):
        def getattr(self, path, fh=None):
            if path == "/":
                return {"st_mode": 0o40555, "st_nlink": 2}
            if path == "/disk.img":
                return {"st_mode": 0o100444, "st_nlink": 1, "st_size": size}
            raise FuseOSError(errno.ENOENT)

        def readdir(self, path, fh):
            return [".", "..", "disk.img"]

        def open(self, path, flags):
            return 0

        def read(self, path, length, offset, fh):
            if offset // SECTOR <= STUCK < (offset + length + SECTOR - 1) // SECTOR:
                with open(stuck_file, "w") as marker:
                    marker.write("stuck\n")
                never.wait()
            return os.pread(fd, length, offset)

    # direct_io: every read of the program reaches this file system.
    FUSE(Disk(), mountpoint, foreground=True, nothreads=False, direct_io=True, ro=True)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


class Mounted:
    def __init__(self, work, image):
        self.mountpoint = tempfile.mkdtemp(prefix="mnt-", dir=work)
        self.stuck_file = os.path.join(tempfile.mkdtemp(prefix="marker-", dir=work), "stuck")
        self.server = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--serve", image, self.mountpoint, self.stuck_file])
        wait_for(lambda: os.path.exists(os.path.join(self.mountpoint, "disk.img")) or self.server.poll() is not None,
                 60, "the file system")
        if self.server.poll() is not None:
            raise AssertionError("the file system did not start")

    def stuck(self):
        return os.path.exists(self.stuck_file)

    def close(self):
        # The server's end of the connection closed: the kernel fails the
        # reads still waiting on it, and the program's thread goes.
        if self.server.poll() is None:
            self.server.kill()
            self.server.wait()
            subprocess.run(["fusermount", "-u", "-z", self.mountpoint], check=False)


def run_case(cli, image, work, signals):
    """Returns (status, report line or None, log, seconds from the first SIGINT to the report)."""
    mounted = Mounted(work, image)
    scan = None
    try:
        err_path = tempfile.mktemp(prefix="err-", dir=work)
        with open(err_path, "w+") as err:
            scan = subprocess.Popen([cli, "scan", os.path.join(mounted.mountpoint, "disk.img"), "--json"],
                                    stdout=subprocess.PIPE, stderr=err)
            lines = []
            reader = threading.Thread(target=lambda: lines.append(scan.stdout.readline()), daemon=True)
            reader.start()
            wait_for(mounted.stuck, 120, "the stuck read")
            start = time.monotonic()
            scan.send_signal(signal.SIGINT)
            report, elapsed = None, None
            if signals == 1:
                # The report is a line of its own; the process can't end yet.
                wait_for(lambda: lines, 60, "the report")
                elapsed = time.monotonic() - start
                report = lines[0].decode("utf-8")
                assert mounted.stuck() and mounted.server.poll() is None, "the read was let go early"
            else:
                # The second Ctrl-C once the first was taken (the program says so).
                wait_for(lambda: "正在停止" in open(err_path, encoding="utf-8").read(), 60, "the first Ctrl-C")
                scan.send_signal(signal.SIGINT)
            mounted.close()
            scan.wait(120)
            reader.join(60)
            if signals == 2 and lines and lines[0]:
                report = lines[0].decode("utf-8")
            err.seek(0)
            log = err.read()
        return scan.returncode, report, log, elapsed
    finally:
        mounted.close()
        if scan and scan.poll() is None:
            scan.kill()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--serve":
        serve(*sys.argv[2:5])
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--imagegen", required=True)
    args = parser.parse_args()
    if os.geteuid() != 0:
        skip("mounting a user-space file system needs root here")
    if not os.path.exists("/dev/fuse"):
        skip("no /dev/fuse")
    try:
        import fusepy  # noqa: F401
    except ImportError:
        skip("fusepy is not installed")

    with tempfile.TemporaryDirectory(prefix="clipsalvage-ctrl-c-") as work:
        image = os.path.join(work, "sample.img")
        subprocess.run([args.imagegen, image], check=True)

        status, report, log, elapsed = run_case(args.cli, image, work, 1)
        print("one Ctrl-C: the report after %.3f s, status %d" % (elapsed, status))
        assert status == 130, (status, log)
        parsed = json.loads(report)
        assert parsed["complete"] is False, report
        assert parsed["error"] == "扫描已停止，列表不完整", report
        assert parsed["signature_sector"] == 8000130, report
        assert "扫描已停止，列表不完整" in log, log

        # The second signal must come while the first one's stop still
        # waits for the work; a test process held up past that wait by a
        # loaded machine tries again.
        for attempt in range(3):
            status, report, log, _ = run_case(args.cli, image, work, 2)
            print("two Ctrl-C: status %d" % status)
            if status != 130:
                break
        assert status == -signal.SIGINT, (status, log)
        assert report is None, report
    print("ok")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The evidence workflow end to end, with the real programs.

    evidence_roundtrip.py PART --cli CLI --imagegen IMAGEGEN --work DIR [--runner WINE_ENV]

PART is "evidence" or "mapfile". With --runner the programs are the Windows
builds, run under Wine through the runner, and paths are given to them as
Windows paths; the evidence itself is always made by the Linux tools.

evidence: the sample image and its evidence file (made by ewfacquire) are
    scanned (the same clips; the evidence file's stored MD5 in the report),
    the evidence file's report is recovered from without a scan, the files
    and both sources are verified against it, a changed file and a changed
    source are caught, and the DFXML of the scan and of the recovery parse
    (xmllint) and their byte runs, cut from the image with dd, hash to the
    digests they state.
mapfile: the image is copied by ddrescue from a FUSE file whose reads of
    seven sectors inside a clip fail; the copy with its mapfile beside it
    (IMAGE.map) is scanned: the holes are reported unreadable, the scan's own
    mapfile names them, the report is recovered from, the file of that clip
    names the sectors, and everything verifies.

Exits 77 (skipped) when a facility is missing (FUSE, root, a tool).
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

SECTOR = 512
BLOCK = 128 * SECTOR
SKIP = 77
NS = {"d": "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML",
      "cs": "urn:clipsalvage:dfxml:1"}


def skip(reason):
    print("skipped: " + reason)
    sys.exit(SKIP)


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


class Programs:
    def __init__(self, args):
        self.cli = args.cli
        self.imagegen = args.imagegen
        self.runner = args.runner

    def arg(self, path):
        """A path as the program under test takes it."""
        if not self.runner:
            return path
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def run(self, program, args, expect=0):
        command = ([self.runner, "run"] if self.runner else []) + [program] + args
        # Output into files, not pipes: a process the runner starts for Wine
        # may hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file, timeout=1800)
            out_file.seek(0)
            err_file.seek(0)
            out = out_file.read().decode("utf-8", "replace")
            err = err_file.read().decode("utf-8", "replace")
        if expect is not None and done.returncode != expect:
            fail("%s exited %d, expected %d\nstdout:\n%s\nstderr:\n%s" %
                 (" ".join(command), done.returncode, expect, out, err))
        return done.returncode, out, err

    def cli_json(self, args, expect=0):
        _, out, err = self.run(self.cli, args + ["--json"], expect)
        try:
            return json.loads(out), err
        except ValueError as e:
            fail("not JSON (%s): %s\nstderr:\n%s" % (e, out, err))


def need(tool):
    if shutil.which(tool) is None:
        skip(tool + " is not installed")


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(1 << 20), b""):
            h.update(piece)
    return h.hexdigest()


def make_image(p, work):
    image = os.path.join(work, "sample.img")
    manifest = os.path.join(work, "manifest.json")
    p.run(p.imagegen, [p.arg(image), "--manifest", p.arg(manifest)])
    with open(manifest, encoding="utf-8") as f:
        return image, json.load(f)


def clip_keys(report):
    return [(c["number"], c["name"], c["first_sector"], c["blocks"], c["closed"],
             [tuple(r) for r in c["runs"]]) for c in report["clips"]]


def dd_bytes(image, offset, length):
    """The bytes of the image at [offset, offset + length), cut by dd."""
    done = subprocess.run(["dd", "if=" + image, "iflag=skip_bytes,count_bytes", "bs=1M",
                           "skip=%d" % offset, "count=%d" % length, "status=none"],
                          stdout=subprocess.PIPE, check=True)
    check(len(done.stdout) == length, "dd gave %d of %d bytes at %d" % (len(done.stdout), length, offset))
    return done.stdout


def check_dfxml(path, image, expect_files, windows_paths):
    """The document parses (xmllint), and every fileobject's byte runs, cut
    from the image with dd (fill runs as that many zeros), hash to its
    SHA-256; a written file has the same bytes. Returns the fileobjects."""
    done = subprocess.run(["xmllint", "--noout", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(done.returncode == 0, "xmllint rejects %s: %s" % (path, done.stdout.decode("utf-8", "replace")))
    root = ET.parse(path).getroot()
    objects = root.findall("d:fileobject", NS)
    check(objects, "no fileobject in " + path)
    for fo in objects:
        name = fo.find("d:filename", NS).text
        size = int(fo.find("d:filesize", NS).text)
        digest = fo.find("d:hashdigest[@type='sha256']", NS)
        check(digest is not None, "%s: no SHA-256 for %s" % (path, name))
        h = hashlib.sha256()
        expected_offset = 0
        for run in fo.findall("d:byte_runs/d:byte_run", NS):
            check(int(run.get("file_offset")) == expected_offset, "%s: byte runs of %s not in file order" % (path, name))
            length = int(run.get("len"))
            if run.get("fill") == "0":
                h.update(bytes(length))
            else:
                h.update(dd_bytes(image, int(run.get("img_offset")), length))
            expected_offset += length
        check(expected_offset == size, "%s: byte runs of %s give %d bytes, filesize %d" % (path, name, expected_offset, size))
        check(h.hexdigest() == digest.text, "%s: byte runs of %s hash to %s, stated %s" % (path, name, h.hexdigest(), digest.text))
        output = fo.find("cs:output_path", NS)
        if expect_files:
            check(output is not None, "%s: %s has no output path" % (path, name))
            local = output.text
            if windows_paths:
                local = local.replace("\\\\?\\", "").replace("Z:", "", 1).replace("\\", "/")
            check(sha256_file(local) == digest.text, "%s: the file %s differs from its stated digest" % (path, local))
    return objects


def recover_from_report(p, source, report_path, out_dir, extra=()):
    report, err = p.cli_json(["recover", p.arg(source), "--from-report", p.arg(report_path),
                              "--out", p.arg(out_dir)] + list(extra))
    # No scan ran: its closing line never came.
    check("扫描完成" not in err, "recover --from-report scanned again:\n" + err)
    check(all(f["outcome"] == "complete" for f in report["files"]), "files not complete: %s" % report["files"])
    return report


def verify(p, source, report_path, files=None, expect=0):
    args = ["verify"] + ([p.arg(source)] if source else []) + ["--report", p.arg(report_path)]
    if files:
        args += ["--files", p.arg(files)]
    return p.run(p.cli, args, expect)


def part_evidence(p, work, windows):
    need("ewfacquire")
    image, manifest = make_image(p, work)
    evidence = os.path.join(work, "证据")
    os.makedirs(evidence)
    done = subprocess.run(["ewfacquire", "-u", "-q", "-d", "sha1", "-c", "deflate:fast", "-t",
                           os.path.join(evidence, "disk"), image],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(done.returncode == 0, "ewfacquire failed: " + done.stdout.decode("utf-8", "replace"))
    e01 = os.path.join(evidence, "disk.E01")

    raw, _ = p.cli_json(["scan", p.arg(image)])
    scan_xml = os.path.join(work, "scan.xml")
    saved, err = p.cli_json(["scan", p.arg(e01), "--dfxml", p.arg(scan_xml)])
    check(clip_keys(raw) == clip_keys(saved), "the evidence file and the image give different clips")
    check(len(saved["clips"]) == len(manifest["recordings"]), "clip count %d, recordings %d" %
          (len(saved["clips"]), len(manifest["recordings"])))
    md5 = hashlib.md5()
    with open(image, "rb") as f:
        for piece in iter(lambda: f.read(1 << 22), b""):
            md5.update(piece)
    check(saved.get("image_hashes", {}).get("md5") == md5.hexdigest(),
          "stored MD5 %s, the image's %s" % (saved.get("image_hashes"), md5.hexdigest()))
    check(md5.hexdigest() in err, "the stored MD5 is not logged:\n" + err)
    report_path = os.path.join(work, "scan.json")
    with open(report_path, "w", encoding="utf-8") as f:
        json.dump(saved, f, ensure_ascii=False)
    check_dfxml(scan_xml, image, False, windows)
    p.run(p.cli, ["verify", p.arg(e01), "--dfxml", p.arg(scan_xml)])

    out_dir = os.path.join(work, "out")
    recovered_xml = os.path.join(work, "recover.xml")
    recovered = recover_from_report(p, e01, report_path, out_dir, ["--dfxml", p.arg(recovered_xml)])
    check(len(recovered["files"]) == len(saved["clips"]), "not every clip recovered")
    recovered_path = os.path.join(work, "recover.json")
    with open(recovered_path, "w", encoding="utf-8") as f:
        json.dump(recovered, f, ensure_ascii=False)
    check_dfxml(recovered_xml, image, True, windows)
    verify(p, e01, recovered_path, out_dir)
    verify(p, image, recovered_path)

    # A file changed after the recovery is named.
    victim = recovered["files"][0]["name"]
    with open(os.path.join(out_dir, victim), "r+b") as f:
        f.seek(1000)
        byte = f.read(1)
        f.seek(1000)
        f.write(bytes([byte[0] ^ 0xFF]))
    _, out, _ = verify(p, None, recovered_path, out_dir, expect=1)
    check(victim in out, "the changed file is not named:\n" + out)

    # A source that differs from the report is refused before anything is written.
    changed = os.path.join(work, "changed.img")
    subprocess.run(["cp", "--sparse=always", image, changed], check=True)
    first = saved["clips"][0]["first_sector"]
    with open(changed, "r+b") as f:
        f.seek(first * SECTOR + 4000)
        f.write(b"\x55\xaa")
    refused = os.path.join(work, "refused")
    _, _, err = p.run(p.cli, ["recover", p.arg(changed), "--from-report", p.arg(report_path),
                              "--out", p.arg(refused)], expect=1)
    check("不符" in err, "no mismatch message:\n" + err)
    check(not os.path.exists(refused) or not os.listdir(refused), "files written from a mismatched source")
    _, out, _ = verify(p, changed, report_path, expect=1)
    check(saved["clips"][0]["name"] in out, "verify does not name the changed clip:\n" + out)


def mount_failing(work, image, first, count):
    if not os.path.exists("/dev/fuse") or shutil.which("fusermount") is None:
        skip("FUSE (/dev/fuse, fusermount) is not available")
    if os.geteuid() != 0:
        skip("mounting a FUSE file system here needs root")
    if subprocess.run(["/usr/bin/python3", "-c", "import fusepy"], capture_output=True).returncode != 0:
        skip("python3-fusepy is not installed")
    mountpoint = os.path.join(work, "mnt")
    os.makedirs(mountpoint)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "report", "failing_fs.py")
    log = open(os.path.join(work, "fs.log"), "w")
    server = subprocess.Popen(["/usr/bin/python3", script, image, mountpoint, str(first), str(count)],
                              stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 120
    while not os.path.exists(os.path.join(mountpoint, "disk.img")):
        if server.poll() is not None or time.monotonic() > deadline:
            server.kill()
            with open(os.path.join(work, "fs.log")) as f:
                skip("the FUSE file system did not come up: " + f.read())
        time.sleep(0.05)
    return server, mountpoint


def unmount(server, mountpoint):
    deadline = time.monotonic() + 60
    while subprocess.run(["fusermount", "-u", mountpoint], capture_output=True).returncode != 0:
        if time.monotonic() > deadline:
            break
        time.sleep(0.1)
    server.wait(timeout=60)


def read_mapfile_bad(path):
    """The sectors a mapfile marks '-', as [first, count] pairs."""
    bad = []
    status_seen = False
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if not status_seen:
                status_seen = True
                continue
            pos, size, status = line.split()
            if status == "-":
                bad.append([int(pos, 0) // SECTOR, int(size, 0) // SECTOR])
    return bad


def part_mapfile(p, work, windows):
    need("ddrescue")
    image, manifest = make_image(p, work)
    raw, _ = p.cli_json(["scan", p.arg(image)])
    # Seven sectors inside the second block of the first clip whose first
    # run has two blocks or more.
    clip = next(c for c in raw["clips"] if c["runs"][0][1] >= 2)
    bad_first = clip["runs"][0][0] + 128 + 40
    bad = [[bad_first, 7]]

    server, mountpoint = mount_failing(work, image, bad_first, 7)
    copy = os.path.join(work, "copy.img")
    try:
        done = subprocess.run(["ddrescue", "-b512", "-r1", "-q", "-S", os.path.join(mountpoint, "disk.img"), copy,
                               copy + ".map"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=1800)
    finally:
        unmount(server, mountpoint)
    check(done.returncode == 0, "ddrescue failed: " + done.stdout.decode("utf-8", "replace"))
    check(read_mapfile_bad(copy + ".map") == bad, "ddrescue's mapfile: %s" % read_mapfile_bad(copy + ".map"))

    scan_map = os.path.join(work, "scan.map")
    scan_xml = os.path.join(work, "scan.xml")
    saved, err = p.cli_json(["scan", p.arg(copy), "--write-mapfile", p.arg(scan_map), "--dfxml", p.arg(scan_xml)])
    check("copy.img.map" in err, "the mapfile beside the image is not said:\n" + err)
    check(saved["unreadable"] == bad, "unreadable %s, expected %s" % (saved["unreadable"], bad))
    check([c["name"] for c in saved["clips"]] == [c["name"] for c in raw["clips"]], "the copy gives other clips")
    check(read_mapfile_bad(scan_map) == bad, "the scan's mapfile marks %s" % read_mapfile_bad(scan_map))
    report_path = os.path.join(work, "scan.json")
    with open(report_path, "w", encoding="utf-8") as f:
        json.dump(saved, f, ensure_ascii=False)
    objects = check_dfxml(scan_xml, copy, False, windows)
    check(any(r.get("fill") == "0" for fo in objects for r in fo.findall("d:byte_runs/d:byte_run", NS)),
          "no fill run for the holes in " + scan_xml)

    out_dir = os.path.join(work, "out")
    recovered_xml = os.path.join(work, "recover.xml")
    recovered = recover_from_report(p, copy, report_path, out_dir, ["--dfxml", p.arg(recovered_xml)])
    holed = [f for f in recovered["files"] if f["unreadable"]]
    check(len(holed) == 1 and holed[0]["number"] == clip["number"] and holed[0]["unreadable"] == bad,
          "files naming unreadable sectors: %s" % holed)
    recovered_path = os.path.join(work, "recover.json")
    with open(recovered_path, "w", encoding="utf-8") as f:
        json.dump(recovered, f, ensure_ascii=False)
    check_dfxml(recovered_xml, copy, True, windows)
    verify(p, copy, recovered_path, out_dir)
    p.run(p.cli, ["verify", p.arg(copy), "--dfxml", p.arg(recovered_xml)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("part", choices=["evidence", "mapfile"])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--imagegen", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runner")
    args = parser.parse_args()
    need("xmllint")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    p = Programs(args)
    if args.part == "evidence":
        part_evidence(p, args.work, bool(args.runner))
    else:
        part_mapfile(p, args.work, bool(args.runner))
    shutil.rmtree(args.work, ignore_errors=True)
    print("passed")


if __name__ == "__main__":
    main()

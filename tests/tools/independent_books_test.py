#!/usr/bin/env python3
"""pageturn-pack against books laid out by this script alone, straight from the bundle layout
(entry data, optional MD5 digest, sizes, N, flag, S, S ^ 0x12345678), not by our writer.

usage: independent_books_test.py PAGETURN-PACK WORKDIR"""
import hashlib, os, shutil, struct, subprocess, sys

PACK, WORK = sys.argv[1], sys.argv[2]
IMAGE = b"MZ\x90\0 an executable image " * 8
failures = []


def section(entries, flag=0, digest=None):
    data = b"".join(entries)
    out = data
    if flag:
        # By the format an empty data block carries 16 zero bytes, not the MD5 of nothing.
        out += digest if digest is not None else (hashlib.md5(data).digest() if data else bytes(16))
    out += b"".join(struct.pack("<I", len(e)) for e in entries)
    s = len(out) + 13
    return out + struct.pack("<IBII", len(entries), flag, s, s ^ 0x12345678)


def book(name, content):
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(content)
    return path


def run(*args):
    r = subprocess.run([PACK, *args], capture_output=True)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")


def expect(what, condition, detail=""):
    if not condition:
        failures.append("%s: %s" % (what, detail))


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
pages = [b"FWS one", b"", b"\0\1\2 three", b"ExeConfig"]
sound = {
    # index lines in another order than the entries, duplicates (the first wins), a line that
    # names nothing (value 0), CR-only and LF-only line ends, and digest flags other than 1
    "crlf": (b"b.swf=2\r\na.swf=1\r\nA.SWF=3\r\nx=0\r\nfiles/c.jpg=3\r\nExeConfig.xml=4\r\n", 0),
    "cr": (b"a.swf=1\rb.swf=2\rfiles/c.jpg=3\rExeConfig.xml=4\r", 0),
    "lf": (b"a.swf=1\nb.swf=2\nfiles/c.jpg=3\nExeConfig.xml=4", 1),
    "flag7": (b"a.swf=1\r\nb.swf=2\r\nfiles/c.jpg=3\r\nExeConfig.xml=4\r\n", 7),
    "flag255": (b"a.swf=1\r\nb.swf=2\r\nfiles/c.jpg=3\r\nExeConfig.xml=4\r\n", 255),
}
for name, (index, flag) in sound.items():
    path = book(name + ".exe", IMAGE + section([index] + pages, flag))
    code, out, err = run("verify", path)
    expect(name + " verify", code == 0, err)
    code, out, err = run("list", path)
    rows = [line.split(None, 2) for line in out.splitlines()]
    expect(name + " list", code == 0 and ["1", "7", "a.swf"] in rows and ["2", "0", "b.swf"] in rows
           and ["3", "9", "files/c.jpg"] in rows, out + err)
    code, out, err = run("info", path)
    expect(name + " info", code == 0 and out.splitlines()[:2] == ["entries 5", "digest flag %d" % flag]
           and "data start %d" % len(IMAGE) in out, out + err)
    target = os.path.join(WORK, name + "-out")
    code, out, err = run("extract", path, "-o", target)
    expect(name + " extract", code == 0, err)
    for entry, data in (("a.swf", pages[0]), ("b.swf", pages[1]), ("files/c.jpg", pages[2])):
        p = os.path.join(target, *entry.split("/"))
        expect(name + " extract " + entry, os.path.isfile(p) and open(p, "rb").read() == data)
    expect(name + " extract x", not os.path.exists(os.path.join(target, "x")))

index = b"a.swf=1\r\nb.swf=2\r\n"
good = section([index, b"hello", b"world"], 1)
flipped = bytearray(good)
flipped[20] ^= 1
damaged = {
    "no bundle": (IMAGE, "Can not find extent section"),
    "check word": (IMAGE + good[:-1] + bytes([good[-1] ^ 1]), "Can not find extent section"),
    "entry byte": (IMAGE + bytes(flipped), "Content Valid failed!"),
    "MD5 of nothing": (IMAGE + section([b""], 1, hashlib.md5(b"").digest()), "Content Valid failed!"),
    "cut in front": (IMAGE + good[3:], "Content Valid failed!"),
    "index past the entries": (IMAGE + section([b"a.swf=1\r\nb.swf=9\r\n", b"x"]), "Error index (ExeExt, line 308)"),
}
for name, (content, message) in damaged.items():
    path = book("damaged.exe", content)
    for command in ("verify", "list", "info", "extract"):
        args = [command, path] + (["-o", os.path.join(WORK, "damaged-out")] if command == "extract" else [])
        code, out, err = run(*args)
        if command in ("list", "info") and name == "index past the entries":
            expect(name + " " + command, code == 0, err)  # the bundle itself is sound
            continue
        expect(name + " " + command, code == 1 and message in err, "%d %s" % (code, err))

for f in failures:
    print("FAILED", f)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)

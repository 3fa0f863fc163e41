#!/usr/bin/env python3
"""Pairs of files and their deltas, for the delta decoder's tests and seeds.

  make_deltas.py pairs OUTDIR
      writes <case>.old and <case>.new for every case below (pure Python,
      the same bytes on every machine: the build runs this);
  make_deltas.py deltas DATADIR
      runs Debian's xdelta3 on those pairs and writes <case>.vcdiff into
      DATADIR (tests/delta/data, committed: run again only when a case
      changes);
  make_deltas.py seeds CORPUSDIR [OLD NEW]...
      writes the fuzz target's seeds: every case, and each further pair of
      files given (the build's fixture modules, stripped), packed as
      tests/fuzz/fuzz_delta.cpp reads them, plus delta-section manifests.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


class Random:
    """xorshift32: the same stream everywhere, whatever Python's own does."""

    def __init__(self, seed):
        self.x = seed or 1

    def next(self):
        x = self.x
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.x = x
        return x

    def bytes(self, n):
        return bytes(self.next() & 0xFF for _ in range(n))

    def below(self, n):
        return self.next() % n


def module(version, r, code_size=9000):
    """A file shaped like a small module: a header with a checksum, code-like
    bytes with repeats, a table, and a version text in UTF-16."""
    code = bytearray()
    pieces = [r.bytes(48) for _ in range(24)]
    while len(code) < code_size:
        code += pieces[r.below(len(pieces))] if r.below(3) else r.bytes(1 + r.below(40))
    table = b"".join(struct.pack("<I", 0x10001000 + 16 * i) for i in range(256))
    text = ("FileVersion\0" + version + "\0ProductVersion\0" + version + "\0").encode("utf-16-le")
    body = bytes(code) + table + text + bytes(64)
    header = b"MZ" + bytes(58) + struct.pack("<I", sum(body) & 0xFFFFFFFF) + bytes(60)
    return header + body


def cases(scale=1):
    """name -> (old, new, extra xdelta3 options). The fuzz target's seeds
    take the cases an eighth of their size (scale 8): the fuzzer runs the
    faster the shorter its inputs."""
    out = {}
    out["version_resource"] = (module("1.0.0.7", Random(7), 9000 // scale),
                               module("1.0.0.8", Random(7), 9000 // scale), [])

    r = Random(11)
    old = r.bytes(8192 // scale)
    new = bytearray(old)
    for _ in range(6):
        new[r.below(len(new))] ^= 0x5A
    out["few_bytes"] = (old, bytes(new), [])

    r = Random(13)
    old = r.bytes(8192 // scale)
    new = old[:1000 // scale] + r.bytes(300 // scale) + old[1000 // scale:5000 // scale] + old[5200 // scale:]
    out["insert_delete"] = (old, new, [])

    r = Random(17)
    blocks = [r.bytes(2048 // scale) for _ in range(4)]
    out["moved_blocks"] = (b"".join(blocks), blocks[2] + blocks[0] + blocks[3] + blocks[1], [])

    # Windows of 16 KB (xdelta3's smallest): a result of several windows,
    # each with its own source segment and checksum.
    # (Small, the source is one module and the result ten of it, changed.)
    r = Random(19)
    old = module("2.0.0.1", r, 9000 // scale) * (4 if scale == 1 else 1)
    new = bytearray(old * (1 if scale == 1 else 10))
    for i in range(0, len(new), 5000):
        new[i] ^= 0xFF
    out["several_windows"] = (old, bytes(new), ["-W", "16384"])

    # No source: every copy reads the result itself, some overlapping what
    # they write (a repeated pattern).
    r = Random(23)
    out["no_source"] = (b"", b"abc" * 700 + r.bytes(200 // scale) + b"\0" * 900 + r.bytes(100 // scale) * 3, [])

    out["empty_result"] = (Random(29).bytes(4096 // scale), b"", [])
    return out


def write_pairs(outdir):
    os.makedirs(outdir, exist_ok=True)
    for name, (old, new, _) in cases().items():
        for suffix, data in ((".old", old), (".new", new)):
            path = os.path.join(outdir, name + suffix)
            # Only when changed, so the build does not redo its tests' inputs.
            try:
                with open(path, "rb") as f:
                    if f.read() == data:
                        continue
            except OSError:
                pass
            with open(path, "wb") as f:
                f.write(data)


def xdelta(old_path, new_path, options, out_path):
    """Runs in the files' folder, so the names xdelta3 records in its
    application header carry no machine's paths."""
    folder = os.path.dirname(new_path)
    source = ["-s", os.path.basename(old_path)] if old_path else []
    subprocess.run(["xdelta3", "-e", "-f", "-S", "none", *options, *source, os.path.basename(new_path),
                    os.path.abspath(out_path)], check=True, cwd=folder)


def write_deltas(datadir):
    os.makedirs(datadir, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        write_pairs(tmp)
        for name, (old, _, options) in cases().items():
            old_path = os.path.join(tmp, name + ".old") if old else None
            xdelta(old_path, os.path.join(tmp, name + ".new"), options, os.path.join(datadir, name + ".vcdiff"))


def pack(old, delta, out_size):
    return b"D" + struct.pack("<II", len(old), out_size) + old + delta


MANIFEST_SEEDS = {
    "manifest_two_bases": "[Corvo]\nCount=1\nFile1=bin/viewer.dll\n[GpcManifestDeltas]\n"
    "bin/viewer.dll=" + "0" * 64 + "," + "a" * 64 + ",1234,deltas/viewer.1.vcdiff\n"
    "bin/viewer.dll=" + "1" * 64 + "," + "B" * 64 + ",99,deltas/viewer.2.vcdiff\n"
    "get.php?f=x.dll=" + "2" * 64 + "," + "c" * 64 + ",7,get.php?d=x,1\n"
    "[GpcManifestSignature]\nSignature=AAAA\n",
    "manifest_malformed": "[GpcManifestDeltas]\nbin/a.dll=" + "0" * 63 + ",x\n",
}


def write_seeds(corpus, extra):
    os.makedirs(corpus, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        pairs = []
        for name, (old, new, options) in cases(8).items():
            for suffix, data in ((".old", old), (".new", new)):
                with open(os.path.join(tmp, name + suffix), "wb") as f:
                    f.write(data)
            pairs.append((name, old, new, options))
        for i in range(0, len(extra), 2):
            with open(extra[i], "rb") as f:
                old = f.read()
            with open(extra[i + 1], "rb") as f:
                new = f.read()
            name = os.path.splitext(os.path.basename(extra[i]))[0] + "_to_" + \
                os.path.splitext(os.path.basename(extra[i + 1]))[0]
            shutil.copy(extra[i], os.path.join(tmp, name + ".old"))
            shutil.copy(extra[i + 1], os.path.join(tmp, name + ".new"))
            pairs.append((name, old, new, []))
        for name, old, new, options in pairs:
            old_path = os.path.join(tmp, name + ".old") if old else None
            delta_path = os.path.join(tmp, name + ".vcdiff")
            xdelta(old_path, os.path.join(tmp, name + ".new"), options, delta_path)
            with open(delta_path, "rb") as f:
                delta = f.read()
            with open(os.path.join(corpus, name), "wb") as f:
                f.write(pack(old, delta, len(new)))
    for name, text in MANIFEST_SEEDS.items():
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(b"M" + text.encode("ascii"))


def main(argv):
    if len(argv) >= 3 and argv[1] == "pairs":
        write_pairs(argv[2])
    elif len(argv) >= 3 and argv[1] == "deltas":
        write_deltas(argv[2])
    elif len(argv) >= 3 and argv[1] == "seeds" and len(argv) % 2 == 1:
        write_seeds(argv[2], argv[3:])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

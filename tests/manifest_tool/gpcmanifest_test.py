#!/usr/bin/env python3
"""The publisher's manifest tool, run natively.

check: one manifest per rule the library reads by, each with one fault, and
the line check must print for it; a clean manifest passes. build: a layout
gives the per-OS manifests that check accepts against the site it wrote,
with the version read from the file, a compressed copy that expands to the
original, the OS filter, and signed manifests that verify.

    gpcmanifest_test.py TOOL VERSIONED_DLL
VERSIONED_DLL is a library with a version resource (the demo's data library).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

tool, versioned = sys.argv[1], sys.argv[2]
sign_tool = os.path.join(os.path.dirname(os.path.abspath(tool)), "gpcsign.py")
failures = []


def run(*args):
    return subprocess.run([sys.executable, tool] + list(args), capture_output=True, text=True)


def expect(name, condition, detail=""):
    if not condition:
        failures.append("%s: %s" % (name, detail))


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="") as f:
        f.write(text)


with tempfile.TemporaryDirectory() as tmp:
    # ---- the fixture site: a versioned library, a text file, a compressed copy
    site = os.path.join(tmp, "site")
    os.makedirs(os.path.join(site, "docs"))
    shutil.copy(versioned, os.path.join(site, "data.dll"))
    readme = b"Read me first. " * 40
    with open(os.path.join(site, "docs", "readme.txt"), "wb") as f:
        f.write(readme)
    subprocess.run(["mscompress", os.path.join(site, "docs", "readme.txt")], check=True, capture_output=True)
    os.replace(os.path.join(site, "docs", "readme.txt_"), os.path.join(site, "docs", "readme.tx_"))
    os.remove(os.path.join(site, "docs", "readme.txt"))
    dll_size = os.path.getsize(os.path.join(site, "data.dll"))
    packed = os.path.getsize(os.path.join(site, "docs", "readme.tx_"))

    # The version as the tool reads it from a clean build below.
    release = os.path.join(tmp, "release")
    os.makedirs(release)
    shutil.copy(versioned, os.path.join(release, "data.dll"))
    write(os.path.join(tmp, "probe.layout"), "data.dll update=version\n")
    r = run("build", "--layout", os.path.join(tmp, "probe.layout"), release, os.path.join(tmp, "probe"))
    m = re.search(r"data\.dll;data\.dll;;([0-9,]+);", open(os.path.join(tmp, "probe", "gpc2k.ini")).read()) \
        if r.returncode == 0 else None
    expect("build reads a file's version", m is not None, r.stdout + r.stderr)
    version = m.group(1) if m else "1,0,0,0"

    data = "data.dll;data.dll;;%s;%d;%d;r;version;redirect" % (version, dll_size, dll_size)
    text = "readme.txt;docs/readme.tx_;docs;;%d;%d;;existence;ignore" % (len(readme), packed)

    def manifest(entries, count=None, extra=""):
        lines = ["[Corvo]", "Count=%d" % (len(entries) if count is None else count)]
        lines += ["File%d=%s" % (i, e) for i, e in enumerate(entries, 1)]
        return "\r\n".join(lines) + "\r\n" + extra

    clean = manifest([data, text])
    write(os.path.join(tmp, "clean", "gpc2k.ini"), clean)
    r = run("check", "--files", site, os.path.join(tmp, "clean", "gpc2k.ini"))
    expect("clean manifest passes", r.returncode == 0 and "no problem" in r.stdout, r.stdout + r.stderr)

    # ---- check: one rule per row (name, manifest file, text, expected line)
    def field(entry, n, value):
        f = entry.split(";")
        f[n] = value
        return ";".join(f)

    rows = [
        ("unknown failure control", "gpc2k.ini", manifest([field(data, 8, "redirct"), text]),
         "File1: unknown failure control 'redirct' (nearest: redirect)"),
        ("unknown update control", "gpc2k.ini", manifest([field(data, 7, "versoin"), text]),
         "unknown update control 'versoin' (nearest: version)"),
        ("empty update control", "gpc2k.ini", manifest([field(data, 7, ""), text]),
         "unknown update control ''"),
        ("unknown action", "gpc2k.ini", manifest([field(data, 6, "reg"), text]),
         "unknown action 'reg' (nearest: r"),
        ("unknown target token", "gpc2k.ini", manifest([field(data, 2, "%sytem%"), text]),
         "unknown target token '%sytem%' (nearest: %system%)"),
        ("token after the first part", "gpc2k.ini", manifest([field(data, 2, "bin/%system%"), text]),
         "'%system%' names a system folder only as the first part"),
        ("target climbs out", "gpc2k.ini", manifest([field(data, 2, "docs/../../x"), text]),
         "climbs out of the product folder"),
        ("name climbs out of a system folder", "gpc2k.ini",
         manifest([field(field(data, 2, "%system%"), 0, "..\\data.dll"), text]),
         "climbs out of %system%"),
        ("eleven fields", "gpc2k.ini", manifest([data + ";0;extra", text]),
         "File1: 11 fields; the library reads ten"),
        ("no update control", "gpc2k.ini", manifest([";".join(data.split(";")[:7]), text]),
         "File1: 7 fields; without the eighth"),
        ("Count above the entries", "gpc2k.ini", manifest([data, text], count=3),
         "Count is 3 but File3 is missing: File3 to File3 are not read"),
        ("entry beyond Count", "gpc2k.ini", manifest([data, text], count=1),
         "File2 is beyond Count=1 and never read"),
        ("Count missing", "gpc2k.ini", "[Corvo]\r\nFile1=%s\r\n" % data,
         "Count missing: the section reads as an empty list"),
        ("Count not a number", "gpc2k.ini", "[Corvo]\r\nCount=two\r\nFile1=%s\r\n" % data,
         "Count 'two': the section reads as an empty list"),
        ("unknown key", "gpc2k.ini", manifest([data, text]).replace("Count=", "Cuont=2\r\nCount="),
         "unknown key 'Cuont' (nearest: count)"),
        ("key twice", "gpc2k.ini", manifest([data, text]) .replace("File2=", "File1=%s\r\nFile2=" % text),
         "File1 again: only the first is read"),
        ("section twice", "gpc2k.ini", clean + "[corvo]\r\nCount=0\r\n",
         "section [corvo] again: only its first section is read"),
        ("brackets in a value", "gpc2k.ini", manifest([field(data, 0, "data[1].dll"), text]),
         "read as a section line, which ends [Corvo]"),
        ("line the reader cuts", "gpc2k.ini", manifest([field(data, 2, "d" * 2100), text]),
         "the library reads 2047 and takes the rest for a line of its own"),
        ("version the library cuts", "gpc2k.ini", manifest([field(data, 3, "1," * 130 + "1"), text]),
         "version of 261 characters: the library reads the first 255"),
        ("dotted version", "gpc2k.ini", manifest([field(data, 3, "1.0.0.7"), text]),
         "version '1.0.0.7' never equals a file's version"),
        ("version control without a version", "gpc2k.ini", manifest([field(data, 3, ""), text]),
         "update control version with no version"),
        ("Url too long for the address", "gpc2k.ini", manifest([field(data, 1, "u/" * 250 + "data.dll"), text]),
         "the download address holds at most 511"),
        ("size not a number", "gpc2k.ini", manifest([field(data, 4, "big"), text]),
         "size 'big' is not a number: read as 0"),
        ("same name twice", "gpc2k.ini", manifest([data, text, field(field(text, 1, "other.txt"), 2, "x")]),
         "File3: name 'readme.txt' also in File2"),
        ("same Url twice", "gpc2k.ini", manifest([data, text, field(text, 0, "copy.txt")]),
         "File3: Url 'docs/readme.tx_' also in File2"),
        ("OS class out of range", "gpc2k.ini", manifest([data + ";7", text]),
         "OS class '7' is not 0, 1 (9x), 2 (NT) or 3"),
        ("OS class its manifest never keeps", "gpcnt.ini", manifest([data + ";3", text]),
         "OS class 3 drops the item on every platform gpcnt.ini serves"),
        ("file missing", "gpc2k.ini", manifest([field(data, 1, "gone.dll"), text]),
         "no file at Url 'gone.dll'"),
        ("other size", "gpc2k.ini", manifest([field(data, 4, str(dll_size + 1)), text]),
         "size %d, the file's is %d" % (dll_size + 1, dll_size)),
        ("other compressed size", "gpc2k.ini", manifest([data, field(text, 5, "1")]),
         "compressed 1, the file's is %d" % packed),
        ("other version", "gpc2k.ini", manifest([field(data, 3, "9,9,9,9"), text]),
         "version 9,9,9,9, the file's is %s" % version),
        ("no version resource", "gpc2k.ini", manifest([field(field(text, 7, "version"), 3, "1,0,0,0"), data]),
         "'docs/readme.tx_' has no version resource"),
    ]
    for name, file_name, body, line in rows:
        path = os.path.join(tmp, "rows", re.sub(r"\W+", "_", name), file_name)
        write(path, body)
        r = run("check", "--files", site, path)
        expect("check: " + name, r.returncode == 1 and line in r.stdout,
               "rc %d, wanted %r in:\n%s%s" % (r.returncode, line, r.stdout, r.stderr))

    # ---- signed manifests: hashes against the folder, the signature with a key
    key, pub = os.path.join(tmp, "k.pem"), os.path.join(tmp, "k.der")
    subprocess.run([sys.executable, sign_tool, "keygen", key, pub], check=True, capture_output=True)
    signed = os.path.join(tmp, "signed", "gpc2k.ini")
    os.makedirs(os.path.dirname(signed))
    subprocess.run([sys.executable, sign_tool, "sign", "--key", key, "--files", site, "--product", "T",
                    os.path.join(tmp, "clean", "gpc2k.ini"), signed], check=True, capture_output=True)
    r = run("check", "--files", site, "--key", pub, signed)
    expect("signed manifest passes", r.returncode == 0, r.stdout + r.stderr)
    changed_site = os.path.join(tmp, "changed_site")
    shutil.copytree(site, changed_site)
    with open(os.path.join(changed_site, "docs", "readme.tx_"), "r+b") as f:
        f.seek(-1, os.SEEK_END)
        last = f.read(1)
        f.seek(-1, os.SEEK_END)
        f.write(bytes([last[0] ^ 1]))
    r = run("check", "--files", changed_site, signed)
    expect("check: signed hash against another file", r.returncode == 1 and
           "hash of 'docs/readme.tx_' does not match the file" in r.stdout, r.stdout + r.stderr)
    body = open(signed, "rb").read()
    other = os.path.join(tmp, "signed_changed", "gpc2k.ini")
    os.makedirs(os.path.dirname(other))
    open(other, "wb").write(body.replace(b";r;version;", b";e;version;"))
    r = run("check", "--key", pub, other)
    expect("check: changed signed manifest", r.returncode == 1 and "does not verify" in r.stdout, r.stdout)
    open(other, "wb").write(body[:body.index(b"[GpcManifestSignature]")])
    r = run("check", other)
    expect("check: signature section missing", r.returncode == 1 and "signature section is missing" in r.stdout,
           r.stdout)
    open(other, "wb").write(body.replace(b"docs/readme.tx_=", b"docs/other.tx_="))
    r = run("check", other)
    expect("check: entry without a hash", r.returncode == 1 and
           "no hash for Url 'docs/readme.tx_'" in r.stdout, r.stdout)

    # ---- build: layout -> site -> manifests that check accepts
    release = os.path.join(tmp, "rel")
    os.makedirs(os.path.join(release, "docs"))
    shutil.copy(versioned, os.path.join(release, "data.dll"))
    shutil.copy(versioned, os.path.join(release, "data9x.dll"))
    with open(os.path.join(release, "docs", "readme.txt"), "wb") as f:
        f.write(readme)
    with open(os.path.join(release, "notes.txt"), "w") as f:
        f.write("not shipped\n")
    layout = os.path.join(tmp, "site.layout")
    write(layout, "# a comment\n[Corvo]\ndata9x.dll update=version os=95 failure=reboot\n"
                  "data.dll update=version target=%system% action=r os=nt,2k\n"
                  "docs/*.txt update=existence target=docs compress\n"
                  "[OnDemand]\ndocs/readme.txt update=size url=extra/readme.txt\n")
    out = os.path.join(tmp, "built")
    r = run("build", "--layout", layout, "--key", key, "--product", "Built", release, out)
    expect("build succeeds", r.returncode == 0, r.stdout + r.stderr)
    expect("build names what it left out", "not listed: notes.txt" in r.stdout, r.stdout)
    m2k = open(os.path.join(out, "gpc2k.ini"), newline="").read() if r.returncode == 0 else ""
    m95 = open(os.path.join(out, "gpc95.ini"), newline="").read() if r.returncode == 0 else ""
    expect("build: NT entry with its filter in gpc2k.ini",
           "File1=data.dll;data.dll;%%system%%;%s;%d;%d;r;version;;2\r\n" % (version, dll_size, dll_size) in m2k, m2k)
    expect("build: 9x entry only in gpc95.ini", "data9x.dll" in m95 and "data9x.dll" not in m2k
           and ";reboot;1\r\n" in m95, m95)
    expect("build: compressed copy listed with both sizes",
           "readme.txt;docs/readme.tx_;docs;;%d;%d;;existence;" % (len(readme), packed) in m2k, m2k)
    expect("build: a second section with its own Url", "[OnDemand]\r\nCount=1\r\nFile1=readme.txt;extra/readme.txt;"
           in m2k, m2k)
    r = run("check", "--files", out, "--key", pub, os.path.join(out, "gpc2k.ini"), os.path.join(out, "gpc95.ini"),
            os.path.join(out, "gpcnt.ini"))
    expect("build: check accepts what build wrote", r.returncode == 0, r.stdout + r.stderr)
    r = subprocess.run([sys.executable, sign_tool, "verify", "--key", pub, "--files", out,
                        os.path.join(out, "gpc2k.ini")], capture_output=True, text=True)
    expect("build: gpcsign verifies the signed manifest", r.returncode == 0 and "product Built" in r.stdout,
           r.stdout + r.stderr)
    write(layout, "[Corvo]\ndata.dll update=versoin failre=ignore os=2k,xp\n")
    r = run("build", "--layout", layout, release, os.path.join(tmp, "bad"))
    expect("build: layout words with their nearest", r.returncode == 2 and
           "unknown update 'versoin' (nearest: version)" in r.stderr and
           "unknown option 'failre' (nearest: failure)" in r.stderr and
           "unknown OS class 'xp'" in r.stderr, r.stderr)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all cases passed")

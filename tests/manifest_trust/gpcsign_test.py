#!/usr/bin/env python3
"""The publisher's tool: verify accepts what sign made and refuses a changed
manifest, a changed file and another key; signing again counts the serial
up and keeps the product; the signed part is the input byte for byte."""
import os
import shutil
import subprocess
import sys
import tempfile

tool, fixtures = sys.argv[1], sys.argv[2]
failures = []


def run(*args):
    return subprocess.run([sys.executable, tool] + list(args), capture_output=True, text=True)


def expect(name, condition, detail=""):
    if not condition:
        failures.append("%s %s" % (name, detail))


with tempfile.TemporaryDirectory() as tmp:
    site = os.path.join(tmp, "site")
    shutil.copytree(os.path.join(fixtures, "site"), site)
    signed = os.path.join(fixtures, "signed.ini")
    key_der = os.path.join(fixtures, "key.der")

    r = run("verify", "--key", key_der, "--files", site, signed)
    expect("good manifest verifies", r.returncode == 0, r.stderr)
    expect("verify names serial and product", "serial 7, product Trust Test" in r.stdout, r.stdout)
    r = run("verify", "--key", os.path.join(fixtures, "key_pub.pem"), signed)
    expect("PEM public key verifies", r.returncode == 0, r.stderr)
    r = run("verify", "--key", os.path.join(fixtures, "other.der"), signed)
    expect("other key refuses", r.returncode == 1, r.stdout)

    data = open(signed, "rb").read()
    changed = os.path.join(tmp, "changed.ini")
    open(changed, "wb").write(data.replace(b"%system%", b"%windows%"))
    r = run("verify", "--key", key_der, changed)
    expect("changed manifest refuses", r.returncode == 1, r.stdout)
    open(changed, "wb").write(data + b"[Corvo]\r\n")
    r = run("verify", "--key", key_der, changed)
    expect("text after the signature refuses", r.returncode == 1, r.stdout)

    with open(os.path.join(site, "data.bin"), "ab") as f:
        f.write(b"!")
    r = run("verify", "--key", key_der, "--files", site, signed)
    expect("changed file refuses", r.returncode == 1 and "CHANGED  data.bin" in r.stdout, r.stdout)

    # Signing again: the serial counts up, the product stays, and the
    # publisher's own text is carried over byte for byte.
    again = os.path.join(tmp, "again.ini")
    r = run("sign", "--key", os.path.join(fixtures, "key.pem"), "--files", site, signed, again)
    expect("re-sign works and keeps the dependency's hash", r.returncode == 0 and "5 file hash(es)" in r.stdout,
           r.stdout + r.stderr)
    r = run("verify", "--key", key_der, "--files", site, again)
    expect("re-signed verifies with serial 8", r.returncode == 0 and "serial 8, product Trust Test" in r.stdout,
           r.stdout + r.stderr)
    plain = open(os.path.join(fixtures, "plain.ini"), "rb").read()
    expect("publisher's text kept", open(again, "rb").read().startswith(plain))

    # The name the manifest is published under: the input's by default,
    # kept when signing again, chosen with --name, none with an empty one.
    expect("name recorded", b"\nName=plain.ini\r\n" in data or b"\nName=plain.ini\n" in data, data[-400:])
    expect("verify names the name", "name plain.ini" in r.stdout, r.stdout)
    expect("name kept on re-signing", b"\nName=plain.ini" in open(again, "rb").read())
    for name, wanted in (("gpcnt.ini", b"\nName=gpcnt.ini"), ("", None)):
        out = os.path.join(tmp, "named.ini")
        r = run("sign", "--key", os.path.join(fixtures, "key.pem"), "--files", site, "--name", name,
                os.path.join(fixtures, "plain.ini"), out)
        text = open(out, "rb").read() if r.returncode == 0 else b""
        expect("--name %r" % name, r.returncode == 0 and (wanted in text if wanted else b"Name=" not in text),
               r.stderr)
    r = run("sign", "--key", os.path.join(fixtures, "key.pem"), "--files", site, "--name", "..\\x.ini",
            os.path.join(fixtures, "plain.ini"), os.path.join(tmp, "bad.ini"))
    expect("a name with a path part refuses to sign", r.returncode == 1 and "unusable manifest name" in r.stderr,
           r.stderr)

    r = run("sign", "--key", os.path.join(fixtures, "key.pem"), "--files", os.path.join(tmp, "empty"),
            os.path.join(fixtures, "plain.ini"), os.path.join(tmp, "x.ini"))
    expect("missing file refuses to sign", r.returncode == 1 and "no file for Url" in r.stderr, r.stderr)

for f in failures:
    print("FAILED:", f)
print("%d check(s) failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)

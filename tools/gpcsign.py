#!/usr/bin/env python3
"""Signs manifests for the download extension, and checks signed ones.

    gpcsign.py keygen PRIVATE.pem PUBLIC.der
    gpcsign.py sign --key PRIVATE.pem --files SITE_DIR [--serial N] [--product NAME]
                    [--name FILE.ini] [--also URL ...] IN.ini OUT.ini
    gpcsign.py verify --key PUBLIC.der|PUBLIC.pem [--files SITE_DIR] IN.ini

The private key never leaves the publisher's machine; the public key is built
into the library (-DGPC_MANIFEST_KEY=PUBLIC.der) or set by an administrator.
The cryptography is the openssl command line's: RSA 3,072 bits, PKCS #1 v1.5
signatures over SHA-256. The manifest format is described in the README.
"""
import argparse
import base64
import hashlib
import os
import re
import subprocess
import sys
import tempfile

INFO_SECTION = "GpcManifestInfo"
HASH_SECTION = "GpcManifestHashes"
SIGNATURE_SECTION = "GpcManifestSignature"
TRUST_SECTIONS = {INFO_SECTION.lower(), HASH_SECTION.lower(), SIGNATURE_SECTION.lower()}
MAX_SERIAL = 0xFFFFFFFF


class Failure(Exception):
    pass


def openssl(*args, data=None):
    proc = subprocess.run(["openssl"] + list(args), input=data, capture_output=True)
    if proc.returncode != 0:
        raise Failure("openssl %s failed: %s" % (args[0], proc.stderr.decode(errors="replace").strip()))
    return proc.stdout


def section_name(line):
    """The library's rule: a line holding both brackets is a section line; its
    name is the text between the first "[" and the first "]" after it (None
    when there is no such "]": the line still ends the section before it)."""
    if "[" not in line or "]" not in line:
        return False
    start = line.index("[")
    end = line.find("]", start + 1)
    return line[start + 1:end].strip() if end >= 0 else None


def unquote(value):
    if value and value[0] in "\"'" and value[-1] == value[0]:
        return value[1:-1].strip() if len(value) > 1 else ""
    return value


def read_sections(text):
    """Sections as the library reads them: names without case, the first
    section of a name wins, and within it the first line of a key."""
    sections = {}
    current = None
    for line in text.split("\n"):
        name = section_name(line)
        if name is not False:
            key = name.lower() if name is not None else None
            current = None if key is None or key in sections else key
            if current is not None:
                sections[current] = {}
            continue
        if current is None or "=" not in line:
            continue
        key, value = line.split("=", 1)
        sections[current].setdefault(key.strip().lower(), unquote(value.strip()))
    return sections


def item_urls(sections):
    """The Url field (second field) of every entry File1..Count of every section."""
    urls = []
    for name, keys in sections.items():
        if name in TRUST_SECTIONS:
            continue
        m = re.match(r"\s*[+-]?\d+", keys.get("count", ""))
        count = int(m.group(0)) if m else 0
        for i in range(1, count + 1):
            entry = keys.get("file%d" % i, "")
            if len(entry) < 2:
                break
            fields = entry.split(";")
            if len(fields) >= 2:
                url = fields[1].strip(" \t\r\n")
                if url and url not in urls:
                    urls.append(url)
    return urls


def split_signed(data):
    """(signed bytes, signature bytes) of a signed manifest, or None when the
    manifest does not end in a signature section."""
    end = len(data.rstrip(b"\r\n"))
    last_start = data.rfind(b"\n", 0, end) + 1
    last = data[last_start:end]
    if last_start == 0 or not last.startswith(b"Signature="):
        return None
    header_end = last_start - 1
    header_start = data.rfind(b"\n", 0, header_end) + 1
    if data[header_start:header_end].rstrip(b"\r") != b"[" + SIGNATURE_SECTION.encode() + b"]":
        return None
    try:
        signature = base64.b64decode(last[len(b"Signature="):], validate=True)
    except ValueError:
        return None
    return data[:header_start], signature


def strip_trust_sections(text):
    """The manifest without its signature and the two signed trust sections."""
    kept = []
    skipping = False
    for line in text.split("\n"):
        name = section_name(line)
        if name is not False:
            skipping = name is not None and name.lower() in TRUST_SECTIONS
        if not skipping:
            kept.append(line)
    return "\n".join(kept)


def file_digest(folder, url):
    candidates = [url, url.replace("%20", " ")]
    for c in candidates:
        path = os.path.join(folder, *c.split("/"))
        if os.path.isfile(path):
            h = hashlib.sha256()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(65536), b""):
                    h.update(block)
            return h.hexdigest()
    raise Failure("no file for Url %r in %s" % (url, folder))


def previous_info(path):
    """(serial, product, name) of an existing signed manifest, or (0, None, None)."""
    if not path or not os.path.isfile(path):
        return 0, None, None
    with open(path, "rb") as f:
        data = f.read()
    info = read_sections(data.decode("latin-1")).get(INFO_SECTION.lower(), {})
    serial = int(info["serial"]) if info.get("serial", "").isdigit() else 0
    return serial, info.get("product"), info.get("name")


def cmd_keygen(args):
    openssl("genrsa", "-out", args.private, "3072")
    openssl("rsa", "-in", args.private, "-pubout", "-outform", "DER", "-out", args.public)
    print("private key: %s (keep it secret)\npublic key:  %s" % (args.private, args.public))


def cmd_sign(args):
    with open(args.input, "rb") as f:
        source = f.read()
    text = source.decode("latin-1")
    newline = "\r\n" if "\r\n" in text else "\n"
    old_serial, old_product, old_name = previous_info(args.input)
    out_serial, out_product, _ = previous_info(args.output)
    serial = args.serial if args.serial is not None else max(old_serial, out_serial) + 1
    if not 1 <= serial <= MAX_SERIAL:
        raise Failure("serial %d out of range 1..%d" % (serial, MAX_SERIAL))
    product = args.product or old_product or out_product or os.path.basename(args.input)
    if not product or len(product) > 255 or any(ord(c) < 0x20 or c in "[]=" for c in product):
        raise Failure("unusable product name %r" % product)

    # The name the manifest is published under: a library that asks for
    # another name refuses it. An empty --name signs for no name.
    name = (old_name or os.path.basename(args.input)) if args.name is None else args.name
    if name and (len(name) >= 260 or any(ord(c) < 0x20 or c in "\\/:" for c in name)):
        raise Failure("unusable manifest name %r" % name)

    body = strip_trust_sections(text.replace("\r\n", "\n")).rstrip("\n")
    urls = item_urls(read_sections(body))
    # Signing a signed manifest again keeps the Urls it listed apart from
    # its entries (the page's dependency items).
    for url in [u for u, _ in listed_hashes(text.replace("\r\n", "\n"))] + (args.also or []):
        if url not in urls:
            urls.append(url)
    lines = body.split("\n") if body else []
    lines += ["[%s]" % INFO_SECTION, "Serial=%d" % serial, "Product=%s" % product]
    if name:
        lines.append("Name=%s" % name)
    lines.append("[%s]" % HASH_SECTION)
    for url in urls:
        if "[" in url and "]" in url:
            raise Failure("Url %r holds both brackets" % url)
        lines.append("%s=%s" % (url, file_digest(args.files, url)))
    signed = (newline.join(lines) + newline).encode("latin-1")
    signature = openssl("dgst", "-sha256", "-sign", args.key, data=signed)
    tail = "[%s]%sSignature=%s%s" % (SIGNATURE_SECTION, newline, base64.b64encode(signature).decode(), newline)
    with open(args.output, "wb") as f:
        f.write(signed + tail.encode("ascii"))
    print("signed %s: serial %d, product %s, %s%d file hash(es)"
          % (args.output, serial, product, "name %s, " % name if name else "", len(urls)))


def cmd_verify(args):
    with open(args.input, "rb") as f:
        data = f.read()
    parts = split_signed(data)
    if parts is None:
        raise Failure("%s: no signature section at the end" % args.input)
    signed, signature = parts
    with tempfile.TemporaryDirectory() as tmp:
        sig_path = os.path.join(tmp, "sig")
        with open(sig_path, "wb") as f:
            f.write(signature)
        with open(args.key, "rb") as f:
            keyform = "DER" if f.read(1) == b"\x30" else "PEM"
        proc = subprocess.run(["openssl", "dgst", "-sha256", "-verify", args.key, "-keyform", keyform,
                               "-signature", sig_path], input=signed, capture_output=True)
    if proc.returncode != 0:
        raise Failure("%s: the signature does not verify with %s" % (args.input, args.key))
    sections = read_sections(signed.decode("latin-1"))
    info = sections.get(INFO_SECTION.lower(), {})
    print("signature good: serial %s, product %s%s" % (info.get("serial"), info.get("product"),
                                                      ", name %s" % info["name"] if info.get("name") else ""))
    if args.files:
        hashes = listed_hashes(signed.decode("latin-1"))
        bad = 0
        for url, digest in hashes:
            actual = file_digest(args.files, url)
            state = "ok" if actual == digest.lower() else "CHANGED"
            bad += state != "ok"
            print("  %-8s %s" % (state, url))
        if bad:
            raise Failure("%d file(s) differ from the signed manifest" % bad)


def listed_hashes(text):
    result = []
    inside = False
    seen = False
    for line in text.split("\n"):
        name = section_name(line)
        if name is not False:
            inside = not seen and name is not None and name.lower() == HASH_SECTION.lower()
            seen = seen or inside
            continue
        line = line.strip(" \t\r")
        if inside and "=" in line:
            url, digest = line.rsplit("=", 1)
            result.append((url.strip(), digest.strip()))
    return result


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("keygen", help="create a 3,072-bit RSA key pair")
    p.add_argument("private")
    p.add_argument("public")
    p.set_defaults(run=cmd_keygen)
    p = sub.add_parser("sign", help="add serial, file hashes and signature to a manifest")
    p.add_argument("--key", required=True, help="private key (PEM)")
    p.add_argument("--files", required=True, help="folder holding the files at their Urls")
    p.add_argument("--serial", type=int, help="serial number (default: the previous one + 1)")
    p.add_argument("--product", help="name the serial is counted under (default: kept, or the file name)")
    p.add_argument("--name", help="the file name the manifest is published under (default: kept, or IN's "
                                  "name; an empty name signs for none)")
    p.add_argument("--also", action="append", help="a further Url to list a hash for (GpcDependency items)")
    p.add_argument("input")
    p.add_argument("output")
    p.set_defaults(run=cmd_sign)
    p = sub.add_parser("verify", help="check a signed manifest (and its files)")
    p.add_argument("--key", required=True, help="public key (DER or PEM)")
    p.add_argument("--files", help="folder holding the files: check their hashes too")
    p.add_argument("input")
    p.set_defaults(run=cmd_verify)
    args = parser.parse_args(argv)
    try:
        args.run(args)
    except (Failure, OSError) as e:
        print("gpcsign: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

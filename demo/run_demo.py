#!/usr/bin/env python3
"""The demo: a meeting start-up in the reference host against a sample site.

Lays out the sample site (manifests, files, meeting page) in the build tree,
serves it from 127.0.0.1, runs gpchost.exe under Wine on the meeting page and
prints a short account of what happened. A second run finds everything current.
Called by ./run.sh demo, which provides the Wine prefix, Xvfb and a wineserver.

The site is signed at every run with the key pair the build made
(demo_key/), and the host loads the copy of the library that carries its
public half (bin/signed/vrgpcext.dll), so the account shows each check.
--tampered changes one byte of the main component after signing and runs a
first installation of its own (host-tampered/, product DemoConclaveTampered)
so that the changed file is really downloaded, and refused.
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_site  # noqa: E402


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def screenshot(path):
    tool = shutil.which("import")
    if not tool or not os.environ.get("DISPLAY"):
        return None
    r = subprocess.run([tool, "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path if r.returncode == 0 and os.path.exists(path) else None


def reg_query(key):
    r = subprocess.run(["wine", "reg", "query", key, "/s"], stdin=subprocess.DEVNULL, capture_output=True,
                       text=True, errors="replace")
    return r.stdout if r.returncode == 0 else ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--fresh", action="store_true", help="forget what earlier demo runs installed")
    ap.add_argument("--tampered", action="store_true",
                    help="change one served file after signing, and see it refused")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    work = os.path.join(build, "demo")
    host_dir = os.path.join(work, "host-tampered" if args.tampered else "host")
    product = "DemoConclaveTampered" if args.tampered else "DemoConclave"
    shot_prefix = "demo_tampered_" if args.tampered else "demo_"
    shots = os.path.join(build, "screenshots")
    os.makedirs(shots, exist_ok=True)
    # The tampered run is always a first installation: only a file that is
    # downloaded is checked.
    if (args.fresh or args.tampered) and os.path.isdir(host_dir):
        shutil.rmtree(host_dir)
    os.makedirs(host_dir, exist_ok=True)

    site = demo_site.build_site(bin_dir, os.path.join(work, "site"))
    signed_dll = os.path.join(bin_dir, "signed", "vrgpcext.dll")
    key_pem = os.path.join(build, "demo_key", "publisher.pem")
    signing = os.path.exists(signed_dll) and os.path.exists(key_pem)
    if signing:
        print("Publisher's key made for this build: %s (public half built into %s)" % (key_pem, signed_dll))
        print(demo_site.sign_site(site, key_pem, "Demo Conclave"))
    elif args.tampered:
        print("--tampered needs the signed library and its key (python3 and openssl at build time)")
        return 2
    else:
        print("No signed library in this build (python3 or openssl missing): the site is not signed")
    if args.tampered:
        demo_site.tamper(site, "gpcdemo.dll")
        print("Tampered after signing: the last byte of gpcdemo.dll is changed (its size is not)")
    server = demo_site.DemoServer(site, throttle={"welcome.dat": 96 * 1024}, product=product)
    server.start()
    page_url = server.url("/meeting.html")
    print("Demo site served at %s (files from %s)" % (server.url("/"), site))

    # A refused file fails the start-up: the run ends once the failure has
    # been reported, since no component will ever be told anything.
    until = "Save the error message log" if args.tampered else "NPVRGPC : Handle notification message 2"
    cmd = ["wine", os.path.join(bin_dir, "gpchost.exe"), page_url, "--dir", winpath(host_dir),
           "--seconds", "60", "--until", until, "--linger", "1500"]
    if signing:
        cmd += ["--dll", winpath(signed_dll)]
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True, errors="replace")
    lines = []
    shots_taken = {}

    def take(name, delay):
        def run():
            time.sleep(delay)
            p = screenshot(os.path.join(shots, name))
            if p:
                shots_taken[name] = p
        t = threading.Thread(target=run)
        t.start()
        return t

    threads = []
    for line in proc.stdout:
        line = line.rstrip("\n")
        lines.append(line)
        if "welcome.dat" in line and line.startswith("host: download ") and "progress" not in shots_taken:
            shots_taken["progress"] = None
            threads.append(take(shot_prefix + "progress.png", 1.5))
        if line.startswith("component: Start(") and "component" not in shots_taken:
            shots_taken["component"] = None
            threads.append(take(shot_prefix + "component.png", 0.8))
        if line.startswith("component: NotifyControl(") and "done" not in shots_taken:
            shots_taken["done"] = None
            threads.append(take(shot_prefix + "done.png", 0.5))
    proc.wait()
    for t in threads:
        t.join()
    server.stop()

    account = demo_site.summarize(lines, server.requests, host_dir)
    if args.tampered:
        component = os.path.join(host_dir, product, "1.0", "gpcdemo.dll")
        account.append("  the changed gpcdemo.dll %s" % ("WAS INSTALLED at " + component if os.path.exists(component)
                                                        else "is not installed: no file at " + component))
    print()
    print("\n".join(account))
    log_key = "HKLM\\SOFTWARE\\%s\\Deinstall" % product
    log = reg_query(log_key)
    if log:
        print()
        print("Install log in the registry (%s):" % log_key)
        for l in log.splitlines():
            if l.strip():
                print("  " + l.strip())
    pictures = [p for p in shots_taken.values() if p]
    if pictures:
        print()
        print("Screenshots:")
        for p in pictures:
            print("  " + p)
    with open(os.path.join(work, "last_run.log"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print()
    print("Whole host output: %s" % os.path.join(work, "last_run.log"))
    return 0 if proc.returncode == 0 else proc.returncode


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The demo: a meeting start-up in the reference host against a sample site.

Lays out the sample site (manifests, files, meeting page) in the build tree,
serves it from 127.0.0.1, runs gpchost.exe under Wine on the meeting page and
prints a short account of what happened. A second run finds everything current.
Called by ./run.sh demo, which provides the Wine prefix, Xvfb and a wineserver.
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
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    work = os.path.join(build, "demo")
    host_dir = os.path.join(work, "host")
    shots = os.path.join(build, "screenshots")
    os.makedirs(shots, exist_ok=True)
    if args.fresh and os.path.isdir(host_dir):
        shutil.rmtree(host_dir)
    os.makedirs(host_dir, exist_ok=True)

    site = demo_site.build_site(bin_dir, os.path.join(work, "site"))
    server = demo_site.DemoServer(site, throttle={"welcome.dat": 96 * 1024})
    server.start()
    page_url = server.url("/meeting.html")
    print("Demo site served at %s (files from %s)" % (server.url("/"), site))

    cmd = ["wine", os.path.join(bin_dir, "gpchost.exe"), page_url, "--dir", winpath(host_dir),
           "--seconds", "60", "--until", "NPVRGPC : Handle notification message 2", "--linger", "1500"]
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
            threads.append(take("demo_progress.png", 1.5))
        if line.startswith("component: Start(") and "component" not in shots_taken:
            shots_taken["component"] = None
            threads.append(take("demo_component.png", 0.8))
        if line.startswith("component: NotifyControl(") and "done" not in shots_taken:
            shots_taken["done"] = None
            threads.append(take("demo_done.png", 0.5))
    proc.wait()
    for t in threads:
        t.join()
    server.stop()

    account = demo_site.summarize(lines, server.requests, host_dir)
    print()
    print("\n".join(account))
    log = reg_query("HKLM\\SOFTWARE\\DemoConclave\\Deinstall")
    if log:
        print()
        print("Install log in the registry (HKLM\\SOFTWARE\\DemoConclave\\Deinstall):")
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

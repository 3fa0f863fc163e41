#!/usr/bin/env python3
"""End-to-end runs of a whole meeting start-up: gpchost.exe under Wine against
the sample site served from 127.0.0.1. Each case has its own host folder,
product root (and so its own install log key) and site."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "demo"))
import demo_site  # noqa: E402


class Case:
    def __init__(self, name, build):
        self.name = name
        self.build = build
        self.bin = os.path.join(build, "bin")
        self.work = os.path.join(build, "e2e", name)
        if os.path.isdir(self.work):
            shutil.rmtree(self.work)
        self.host_dir = os.path.join(self.work, "host")
        os.makedirs(self.host_dir)
        self.product = "E2E_" + name
        self.product_dir = os.path.join(self.host_dir, self.product, "1.0")
        self.site = None
        self.server = None
        self.variant = {}

    def make_site(self, **variant):
        self.variant.update(variant)
        self.site = demo_site.build_site(self.bin, os.path.join(self.work, "site"), self.variant)

    def serve(self, **kw):
        if self.server:
            self.server.stop()
        self.server = demo_site.DemoServer(self.site, **kw)
        self.server.start()

    def page(self, extra=None, name="meeting.html", drop=()):
        demo_site.write_page(self.site, self.server.url(""), self.server.url("/log?"), extra, name, self.product,
                             drop)
        return self.server.url("/" + name)

    def sign(self, serial=1):
        """Signs the site with the build's publisher key; the product is the
        case's own, so its accepted serials are too."""
        demo_site.sign_site(self.site, os.path.join(self.build, "demo_key", "publisher.pem"), self.product, serial)

    def run_host(self, page, until="NPVRGPC : Handle notification message 2", seconds=40, extra_args=(),
                 signed=False):
        """signed: load the copy of the library that carries the publisher key."""
        cmd = ["wine", os.path.join(self.bin, "gpchost.exe"), page, "--dir", winpath(self.host_dir),
               "--seconds", str(seconds)]
        if signed:
            cmd += ["--dll", winpath(os.path.join(self.bin, "signed", "vrgpcext.dll"))]
        if until:
            cmd += ["--until", until]
        cmd += list(extra_args)
        self.server.requests.clear()
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                           timeout=seconds + 60)
        lines = r.stdout.splitlines()
        with open(os.path.join(self.work, "run_%d.log" % int(time.time() * 1000)), "w") as f:
            f.write(r.stdout)
        return r.returncode, lines

    def stop(self):
        if self.server:
            self.server.stop()


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def traces(lines):
    return [l[len("trace: "):] for l in lines if l.startswith("trace: ")]


def downloads(lines):
    return [l.split(" ", 3)[3] for l in lines if l.startswith("host: download ")]


def check(cond, what, lines=None):
    if not cond:
        if lines is not None:
            sys.stderr.write("\n".join(lines[-80:]) + "\n")
        raise AssertionError(what)


def reg_values(key):
    r = subprocess.run(["wine", "reg", "query", key], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                       errors="replace")
    values = {}
    for l in r.stdout.splitlines():
        parts = l.strip().split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2]
    return values


def first_install(c, signed_site=False):
    c.make_site()
    if signed_site:
        c.sign()
    c.serve()
    rc, lines = c.run_host(c.page())
    check(rc == 0, "host exit code %d" % rc, lines)
    got = downloads(lines)
    check(len(got) == 5, "manifest and four files downloaded: %s" % got, lines)
    check(re.search(r"/gpc2k\.ini\?random=\d+$", got[0]), "manifest url %s" % got[0], lines)
    for name in ("gpcdata.dll", "readme.tx_", "gpcdemo.dll", "welcome.dat"):
        check(any(re.search("/%s\\?random=\\d+$" % re.escape(name), u) for u in got), "downloaded " + name, lines)
    readme = os.path.join(c.product_dir, "docs", "readme.txt")
    check(os.path.exists(readme), "readme expanded at " + readme, lines)
    original = open(os.path.join(demo_site.HERE, "files", "readme.txt"), "rb").read()
    check(open(readme, "rb").read() == original, "readme expanded byte for byte")
    check(os.path.getsize(os.path.join(c.product_dir, "media", "welcome.dat")) == 384 * 1024, "welcome.dat size")
    check(os.path.exists(os.path.join(c.product_dir, "gpcdemo.dll")), "component installed")
    t = traces(lines)
    order = [l for l in lines if l.startswith("component: ")]
    check(order and order[0].startswith("component: SetControlEnv"), "SetControlEnv first: %s" % order, lines)
    check(any(l.startswith("component: Start(") and "Demo meeting & friends" in l for l in order),
          "init script ran with the page's title", lines)
    check(any("NotifyControl" in l and ", 2, 0, 0)" in l for l in order), "notification 2 reached the component",
          lines)
    check(any(l.startswith("component: OnAction(2, 0)") for l in order), "action 2 ran", lines)
    check("Download is done" in t, "download done", lines)
    check(any(l.startswith("component: Stop()") for l in order), "exit script ran at shut-down", lines)
    log = reg_values("HKLM\\SOFTWARE\\%s\\Deinstall\\NS_Unknown\\%s\\1.0" % (c.product, c.product))
    check(log.get("gpcdata.dll", "").lower().endswith("\\1.0\\gpcdata.dll"), "install log names gpcdata.dll: %s" % log)
    check("DefInstallDir" in log, "install log has DefInstallDir: %s" % log)
    check(not [r for r in c.server.requests if r.split(" ")[1].startswith("/log")], "no failure reports")
    return lines


def up_to_date(c):
    first_install(c)
    rc, lines = c.run_host(c.page())
    check(rc == 0, "second run exit code %d" % rc, lines)
    got = downloads(lines)
    check(len(got) == 1 and ".ini?random=" in got[0], "only the manifest on the second run: %s" % got, lines)
    check(any(l.startswith("component: Start(") for l in lines), "component still started", lines)


def update_one(c):
    first_install(c)
    c.make_site(welcome_size=400 * 1024)
    rc, lines = c.run_host(c.page())
    check(rc == 0, "exit code %d" % rc, lines)
    got = downloads(lines)
    check(len(got) == 2 and "welcome.dat?random=" in got[1], "only welcome.dat is fetched again: %s" % got, lines)
    check(os.path.getsize(os.path.join(c.product_dir, "media", "welcome.dat")) == 400 * 1024, "updated in place")


def busy(c, control):
    c.make_site(welcome_failure=control)
    c.serve()
    rc, lines = c.run_host(c.page())
    check(rc == 0, "first run exit code %d" % rc, lines)
    installed = os.path.join(c.product_dir, "media", "welcome.dat")
    before = open(installed, "rb").read()
    c.make_site(welcome_size=400 * 1024, welcome_failure=control)
    stop = os.path.join(c.work, "release")
    holder = subprocess.Popen(["wine", os.path.join(c.bin, "hold_file.exe"), winpath(installed), winpath(stop)],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        check(holder.stdout.readline().strip() == "held", "the helper holds the installed file")
        rc, lines = c.run_host(c.page())
    finally:
        open(stop, "w").close()
        holder.wait(timeout=60)
    check(rc == 0, "second run exit code %d" % rc, lines)
    check(open(installed, "rb").read() == before, "the busy file in use is kept as it was")
    reports = [r for r in c.server.requests if r.split(" ")[1].startswith("/log")]
    check(any("ErrorCode=8&" in r or r.endswith("ErrorCode=8 HTTP/1.1") for r in reports),
          "restart message 8 reported: %s" % reports, lines)
    return lines, installed


def busy_redirect(c):
    lines, installed = busy(c, "redirect")
    redirected = os.path.join(c.product_dir, "welcome.dat")
    check(os.path.exists(redirected) and os.path.getsize(redirected) == 400 * 1024,
          "new file written at the redirect path " + redirected, lines)
    check(any(t.startswith("Redirect to ") for t in traces(lines)), "redirect traced", lines)


def busy_reboot(c):
    lines, installed = busy(c, "reboot")
    r = subprocess.run(["wine", "reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                        "/v", "PendingFileRenameOperations"], stdin=subprocess.DEVNULL, capture_output=True,
                       text=True, errors="replace")
    check("welcome.dat" in r.stdout.lower(), "replacement at restart scheduled: %s" % r.stdout, lines)


def failed_download_report(c):
    c.make_site(welcome_url="missing.dat")
    c.serve(missing={"missing.dat"})
    rc, lines = c.run_host(c.page(), until="Save the error message log", seconds=30)
    check(rc == 0, "exit code %d" % rc, lines)
    reports = [r for r in c.server.requests if r.split(" ")[1].startswith("/log")]
    check(len(reports) >= 1, "a failure report reached the server", lines)
    # Message 6 names the item's url as the manifest gives it.
    expected = "GET /log?ConfID=4711&SessionID=demo-session&Module=1&ErrorCode=6&OptInfo1=missing.dat HTTP/1.1"
    check(expected in reports, "report request text: %s" % reports, lines)
    check(not os.path.exists(os.path.join(c.product_dir, "media", "welcome.dat")), "nothing left at the install path")
    check(not any(l.startswith("component: Start(") for l in lines), "the failed start-up loads no component", lines)


def truncated_download(c):
    c.make_site()
    c.serve(truncate={"welcome.dat"})
    rc, lines = c.run_host(c.page(), until="Save the error message log", seconds=30)
    check(any("download failed" in l and "welcome.dat" in l for l in lines), "the host saw the cut download", lines)
    check(not os.path.exists(os.path.join(c.product_dir, "media", "welcome.dat")), "no half-written file installed")
    reports = [r for r in c.server.requests if r.split(" ")[1].startswith("/log")]
    check(any("ErrorCode=6&" in r for r in reports), "reported with message 6: %s" % reports, lines)


def ode_section(c):
    c.make_site()
    c.serve()
    rc, lines = c.run_host(c.page(), extra_args=["--ode", "Extras"])
    check(rc == 0, "exit code %d" % rc, lines)
    check("host: section Extras integrity 0" in lines, "section needs an update before", lines)
    check(any(l.startswith("ode: kind=0 file=extras.txt section=Extras result=0") for l in lines),
          "file notice", lines)
    check(any(l.startswith("ode: kind=1 file=- section=Extras result=0") for l in lines), "section notice", lines)
    check(os.path.exists(os.path.join(c.product_dir, "extras", "extras.txt")), "extras installed")


def suppressed(c):
    c.make_site()
    c.serve()
    os.makedirs(c.product_dir)
    shutil.copy(os.path.join(c.bin, "gpcdemo.dll"), os.path.join(c.product_dir, "gpcdemo.dll"))
    rc, lines = c.run_host(c.page([("GpcSuppressInstallation", "True")]))
    check(rc == 0, "exit code %d" % rc, lines)
    check(downloads(lines) == [], "no download at all: %s" % downloads(lines), lines)
    check("Suppress installation:load component" in traces(lines), "suppressed load traced", lines)
    check(any(l.startswith("component: Start(") for l in lines), "the installed component started", lines)


def download_only(c):
    c.make_site()
    c.serve()
    rc, lines = c.run_host(c.page([("GpcDownloadOnly", "true")]), until="Download is done")
    check(rc == 0, "exit code %d" % rc, lines)
    check(len(downloads(lines)) == 5, "files downloaded", lines)
    check(os.path.exists(os.path.join(c.product_dir, "gpcdemo.dll")), "component file installed")
    check(not any(l.startswith("component: ") for l in lines), "component never loaded", lines)


def bad_page(c):
    c.make_site()
    c.serve()
    with open(os.path.join(c.site, "empty.html"), "w") as f:
        f.write("<html><body><p>no plug-in here</p><object data=x.swf</body></html>")
    rc, lines = c.run_host(c.server.url("/empty.html"), until=None, seconds=10)
    check(rc == 2 and any("no <object> or <embed>" in l for l in lines), "host refuses the page cleanly", lines)
    check(not any(l.startswith("host: download") for l in lines), "nothing downloaded", lines)


# Signed sites. The publisher key is the one the build made for the demo;
# bin/signed/vrgpcext.dll carries its public half.
SITE_URLS = ("gpcdata.dll", "readme.tx_", "gpcdemo.dll", "welcome.dat")
# Ends a run that fails: the failure has been reported by then.
REPORTED = "Save the error message log"


def reports(c):
    return [r.split(" ")[1] for r in c.server.requests if r.split(" ")[1].startswith("/log")]


def reported(c, code, info):
    return "/log?ConfID=4711&SessionID=demo-session&Module=1&ErrorCode=%d&OptInfo1=%s" % (code, info) in reports(c)


def signed_good(c):
    c.make_site()
    c.sign()
    c.serve()
    rc, lines = c.run_host(c.page(), signed=True)
    check(rc == 0, "exit code %d" % rc, lines)
    t = traces(lines)
    # The on-demand section's file is listed too.
    check("vrgpcext: manifest signature verified: product %s, serial 1, 5 file hash(es)" % c.product in t,
          "signature verified", lines)
    for url in SITE_URLS:
        check("vrgpcext: hash of %s matches the signed manifest" % url in t, "hash of %s checked" % url, lines)
    check(os.path.exists(os.path.join(c.product_dir, "docs", "readme.txt")), "readme expanded", lines)
    check(any(l.startswith("component: Start(") for l in lines), "component started", lines)
    check(reports(c) == [], "no failure reports: %s" % reports(c), lines)
    # The next start finds everything current: the manifest is checked
    # again, no installed file is read to be hashed.
    rc, lines = c.run_host(c.page(), signed=True)
    check(rc == 0, "second run exit code %d" % rc, lines)
    check(len(downloads(lines)) == 1, "only the manifest on the second run: %s" % downloads(lines), lines)
    t = traces(lines)
    check(any(l.startswith("vrgpcext: manifest signature verified: ") for l in t), "verified again", lines)
    check(not any(l.startswith("vrgpcext: hash of ") for l in t), "no file hashed on the second run", lines)
    check(any(l.startswith("component: Start(") for l in lines), "component started again", lines)


def signed_changed_file(c):
    c.make_site()
    c.sign()
    demo_site.tamper(c.site, "gpcdemo.dll")
    c.serve()
    rc, lines = c.run_host(c.page(), until=REPORTED, signed=True)
    t = traces(lines)
    check("vrgpcext: download of gpcdemo.dll refused: hash mismatch" in t, "changed file refused", lines)
    check("vrgpcext: hash of gpcdata.dll matches the signed manifest" in t, "the others still checked", lines)
    check(not any(l.startswith("host: unpack ") and "gpcdemo.dll" in l for l in lines), "never unpacked", lines)
    check(not os.path.exists(os.path.join(c.product_dir, "gpcdemo.dll")), "changed file not installed", lines)
    check(reported(c, 7, "gpcdemo.dll"), "reported with message 7: %s" % reports(c), lines)
    check(not any(l.startswith("component: ") for l in lines), "no component loaded", lines)


def check_manifest_refused(c, lines, reason):
    t = traces(lines)
    check(any(l.startswith("vrgpcext: manifest ") and l.endswith(" refused: " + reason) for l in t),
          "manifest refused: " + reason, lines)
    check(len(downloads(lines)) == 1, "the manifest alone downloaded: %s" % downloads(lines), lines)
    check(reported(c, 23, reason.replace(" ", "%20")), "reported with message 23: %s" % reports(c), lines)
    check(not os.path.exists(c.product_dir), "nothing installed", lines)
    check(not any(l.startswith("component: ") for l in lines), "no component loaded", lines)


def signed_changed_manifest(c):
    c.make_site()
    c.sign()
    # Someone on the way sends the component to a folder of their choosing.
    for name in demo_site.MANIFESTS:
        path = os.path.join(c.site, name)
        text = open(path, "rb").read()
        check(b"gpcdemo.dll;gpcdemo.dll;;" in text, "the fixture has the entry")
        open(path, "wb").write(text.replace(b"gpcdemo.dll;gpcdemo.dll;;", b"gpcdemo.dll;gpcdemo.dll;%windows%;"))
    c.serve()
    rc, lines = c.run_host(c.page(), until=REPORTED, signed=True)
    check_manifest_refused(c, lines, "bad signature")


def signed_missing_signature(c):
    c.make_site()
    c.sign()
    for name in demo_site.MANIFESTS:
        path = os.path.join(c.site, name)
        text = open(path, "rb").read()
        open(path, "wb").write(text[:text.index(b"[GpcManifestSignature]")])
    c.serve()
    rc, lines = c.run_host(c.page(), until=REPORTED, signed=True)
    check_manifest_refused(c, lines, "no signature")


def signed_replayed(c):
    # The publisher's first manifest, kept by someone who later serves it
    # again, after the second one has been accepted.
    c.make_site()
    c.sign(serial=1)
    older = {n: open(os.path.join(c.site, n), "rb").read() for n in demo_site.MANIFESTS}
    c.sign(serial=2)
    c.serve()
    rc, lines = c.run_host(c.page(), signed=True)
    check(any(l.startswith("trace: vrgpcext: manifest signature verified: ") and ", serial 2, " in l
              for l in lines), "serial 2 accepted", lines)
    shutil.rmtree(c.host_dir)
    os.makedirs(c.host_dir)
    for n, data in older.items():
        open(os.path.join(c.site, n), "wb").write(data)
    rc, lines = c.run_host(c.page(), until=REPORTED, signed=True)
    check_manifest_refused(c, lines, "older serial")


def signed_dependency_no_hash(c):
    c.make_site()
    c.sign()
    c.serve()
    # Without "GpcUnpackVersion" the page's own list is all there is: no
    # signed manifest vouches for anything on it, though its file is the
    # very one signed. Nothing is downloaded, installed or loaded.
    page = c.page([("GpcDependency", "gpcdemo.dll;gpcdemo.dll;;;;;;existence;redirect")], drop=("GpcUnpackVersion",))
    rc, lines = c.run_host(page, until=REPORTED, signed=True)
    got = downloads(lines)
    check(not got, "nothing downloaded: %s" % got, lines)
    check("vrgpcext: manifest dependency list refused: no signed manifest" in traces(lines), "refused", lines)
    check(not os.path.exists(os.path.join(c.product_dir, "gpcdemo.dll")), "not installed", lines)
    check(reported(c, 23, "no%20signed%20manifest"), "reported with message 23: %s" % reports(c), lines)
    check(not any(l.startswith("component: ") for l in lines), "no component loaded", lines)


def nokey_signed_manifest(c):
    # The shipped library, with no key, on a signed site: the same
    # downloads and installation as the unsigned site's first install, and
    # not a word about signatures.
    lines = first_install(c, signed_site=True)
    for word in ("signature", "hash", "refused", "serial"):
        check(not any(word in l for l in traces(lines)), "no trace line mentions %r" % word, lines)


def publisher_kit(c):
    """A publisher's release: a layout, the site and its signed per-OS
    manifests built by the manifest tool, checked by it, and a start-up."""
    release = os.path.join(c.work, "release_files")
    os.makedirs(os.path.join(release, "lib"))
    shutil.copy(os.path.join(c.bin, "gpcdemo.dll"), release)
    shutil.copy(os.path.join(c.bin, "gpcdata.dll"), os.path.join(release, "lib"))
    shutil.copy(os.path.join(demo_site.HERE, "files", "readme.txt"), release)
    layout = os.path.join(c.work, "site.layout")
    with open(layout, "w") as f:
        f.write("[Corvo]\n"
                "lib/gpcdata.dll update=version target=data os=nt,2k\n"
                "lib/gpcdata.dll update=version target=data9x os=95\n"
                "readme.txt update=existence target=docs compress\n"
                "gpcdemo.dll update=existence failure=redirect\n")
    c.site = os.path.join(c.work, "site")
    key = os.path.join(c.build, "demo_key")
    r = subprocess.run([sys.executable, demo_site.MANIFEST_TOOL, "build", "--layout", layout, "--key",
                        os.path.join(key, "publisher.pem"), "--product", c.product, release, c.site],
                       capture_output=True, text=True)
    check(r.returncode == 0, "build: %s%s" % (r.stdout, r.stderr))
    manifests = [os.path.join(c.site, n) for n in demo_site.MANIFESTS]
    r = subprocess.run([sys.executable, demo_site.MANIFEST_TOOL, "check", "--files", c.site, "--key",
                        os.path.join(key, "publisher.der")] + manifests, capture_output=True, text=True)
    check(r.returncode == 0, "check of the built site: %s%s" % (r.stdout, r.stderr))
    c.serve()
    rc, lines = c.run_host(c.page(), signed=True)
    check(rc == 0, "exit code %d" % rc, lines)
    t = traces(lines)
    check("vrgpcext: manifest signature verified: product %s, serial 1, 3 file hash(es)" % c.product in t,
          "the built manifest's signature verified", lines)
    check(sorted(os.path.basename(u).split("?")[0] for u in downloads(lines)[1:]) ==
          ["gpcdata.dll", "gpcdemo.dll", "readme.tx_"], "the NT entries downloaded: %s" % downloads(lines), lines)
    check(os.path.exists(os.path.join(c.product_dir, "data", "gpcdata.dll")), "installed at its target", lines)
    check(not os.path.exists(os.path.join(c.product_dir, "data9x")), "the 9x entry is not in this manifest", lines)
    check(open(os.path.join(c.product_dir, "docs", "readme.txt"), "rb").read() ==
          open(os.path.join(release, "readme.txt"), "rb").read(), "readme expanded byte for byte", lines)
    check(any(l.startswith("component: Start(") for l in lines), "component started", lines)
    rc, lines = c.run_host(c.page(), signed=True)
    check(len(downloads(lines)) == 1, "the version read by the tool is current: %s" % downloads(lines), lines)


CASES = {f.__name__: f for f in (first_install, up_to_date, update_one, busy_redirect, busy_reboot,
                                 failed_download_report, truncated_download, ode_section, suppressed,
                                 download_only, bad_page, signed_good, signed_changed_file,
                                 signed_changed_manifest, signed_missing_signature, signed_replayed,
                                 signed_dependency_no_hash, nokey_signed_manifest, publisher_kit)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--case", required=True, choices=sorted(CASES))
    ap.add_argument("--build", required=True)
    args = ap.parse_args()
    c = Case(args.case, os.path.abspath(args.build))
    try:
        CASES[args.case](c)
    except AssertionError as e:
        print("FAILED: %s: %s" % (args.case, e))
        return 1
    finally:
        c.stop()
    print("passed: %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())

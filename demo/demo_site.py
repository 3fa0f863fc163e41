"""The sample site of the demo and the end-to-end tests: its files and per-OS
manifests (built from site.layout by tools/gpcmanifest, as a publisher builds
a site), the meeting page, and a small HTTP server on 127.0.0.1 that records
requests."""
import http.server
import os
import random
import re
import shutil
import socketserver
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIGN_TOOL = os.path.join(HERE, "..", "tools", "gpcsign.py")
MANIFEST_TOOL = os.path.join(HERE, "..", "tools", "gpcmanifest")
LAYOUT = os.path.join(HERE, "site.layout")
MANIFESTS = ("gpc2k.ini", "gpcnt.ini", "gpc95.ini")

PAGE = """<html><head><title>Demo meeting</title></head>
<body>
<h1>Demo meeting</h1>
<object id="meeting" classid="clsid:00000000-0000-0000-0000-000000000000" width="640" height="480">
  <param name="GpcUrlRoot" value="{root}">
  <param name="GpcUnpackVersion" value="3.1">
  <param name="GpcExtVersion" value="3.1">
  <param name="GpcComponentName" value="gpcdemo.dll">
  <param name="GpcProductRoot" value="{product}">
  <param name="GpcProductVersion" value="1.0">
  <param name="GpcActiveIniSection" value="Corvo">
  <param name="GpcMessageTitle" value="Demo Meeting">
  <param name="GpcProgressBarTitle" value="Setting up the demo meeting">
  <param name="MeetingTitle" value="Demo meeting &amp; friends">
  <param name="GpcInitCall" value="started = Start(%HWND, MeetingTitle)">
  <param name="GpcExitCall" value="Stop()">
  <param name="GpcActions" value="OnAction(%WPARAM, %LPARAM)|GpcChangeLocation(#LPARAM)|OnAction(%WPARAM, %LPARAM)">
  <param name="GpcUrls" value="{root}/welcome.html|{root}/goodbye.html">
  <param name="LoggingURL" value="{log}">
  <param name="MeetingID" value="4711">
  <param name="SessionID" value="demo-session">
{extra}</object>
</body></html>
"""


# How a test's site differs from the sample site: the layout options that
# each variant key adds to the line of one file.
VARIANT_OPTIONS = {
    "data_version": ("gpcdata.dll", "version=%s"),
    "data_failure": ("gpcdata.dll", "failure=%s"),
    "welcome_failure": ("welcome.dat", "failure=%s"),
    "welcome_url": ("welcome.dat", "url=%s"),
}


def layout_text(variant):
    """The sample site's layout (site.layout) with a test's variant."""
    lines = open(LAYOUT).read().split("\n")
    for key, (name, option) in VARIANT_OPTIONS.items():
        if key in variant:
            lines = [l + " " + option % variant[key] if l.split(" ", 1)[0] == name else l for l in lines]
    return "\n".join(lines)


def build_site(bin_dir, site_dir, variant=None):
    """Lays out the site with the publisher's tool from a release folder
    beside it; returns its folder. variant: dict of tweaks for tests."""
    variant = variant or {}
    release = site_dir + ".release"
    for d in (site_dir, release):
        if os.path.isdir(d):
            shutil.rmtree(d)
        os.makedirs(d)
    for name in ("gpcdemo.dll", "gpcdata.dll"):
        shutil.copy(os.path.join(bin_dir, name), os.path.join(release, name))
    shutil.copy(os.path.join(HERE, "files", "readme.txt"), os.path.join(release, "readme.txt"))
    rnd = random.Random(7)
    with open(os.path.join(release, "welcome.dat"), "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(variant.get("welcome_size", 384 * 1024))))
    with open(os.path.join(release, "extras.txt"), "w") as f:
        f.write("Extra material, fetched on demand.\n")
    layout = site_dir + ".layout"
    with open(layout, "w") as f:
        f.write(layout_text(variant))
    r = subprocess.run([sys.executable, MANIFEST_TOOL, "build", "--layout", layout, release, site_dir],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("gpcmanifest build failed: %s%s" % (r.stdout, r.stderr))
    with open(os.path.join(site_dir, "welcome.html"), "w") as f:
        f.write("<html><body>Welcome</body></html>\n")
    return site_dir


def sign_site(site_dir, key_pem, product, serial=1):
    """Signs the site's manifests as a publisher does: the hashes of the files
    as they lie in site_dir now, the serial and the product. Returns the
    tool's one-line account."""
    source = os.path.join(site_dir, MANIFESTS[0])
    signed = source + ".signed"
    # Each name gets a manifest signed for that name: the library refuses one
    # served under a name it was not signed for. The source itself is
    # replaced last.
    account = None
    for name in reversed(MANIFESTS):
        r = subprocess.run([sys.executable, SIGN_TOOL, "sign", "--key", key_pem, "--files", site_dir,
                            "--serial", str(serial), "--product", product, "--name", name, source, signed],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("signing failed: %s%s" % (r.stdout, r.stderr))
        account = r.stdout.strip().replace(signed, name)
        os.replace(signed, os.path.join(site_dir, name))
    return account


def tamper(site_dir, name):
    """Changes the last byte of a served file, as someone on the way could:
    the size stays, only its hash tells."""
    path = os.path.join(site_dir, name)
    with open(path, "r+b") as f:
        f.seek(-1, os.SEEK_END)
        last = f.read(1)[0]
        f.seek(-1, os.SEEK_END)
        f.write(bytes([last ^ 0xFF]))


def write_page(site_dir, root, log, extra_params=None, name="meeting.html", product="DemoConclave", drop=()):
    """The meeting page; drop names parameters of the usual page to leave out."""
    extra = "".join('  <param name="%s" value="%s">\n' % kv for kv in (extra_params or []))
    text = PAGE.format(root=root, log=log, extra=extra, product=product)
    for param in drop:
        text = re.sub(r'  <param name="%s" value="[^"]*">\n' % re.escape(param), "", text)
    with open(os.path.join(site_dir, name), "w") as f:
        f.write(text)


class _Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        server = self.server.owner
        server.requests.append(self.requestline)
        path = self.path.split("?", 1)[0]
        if path.startswith("/log"):
            body = b"logged"
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        name = os.path.basename(path)
        if name in server.missing:
            self.send_error(404)
            return
        if name in server.truncate:
            full = os.path.join(server.root, name)
            data = open(full, "rb").read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        rate = server.throttle.get(name)
        if rate:
            full = os.path.join(server.root, name)
            data = open(full, "rb").read()
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            chunk = max(1024, rate // 10)
            try:
                for i in range(0, len(data), chunk):
                    self.wfile.write(data[i:i + chunk])
                    self.wfile.flush()
                    time.sleep(chunk / float(rate))
            except (BrokenPipeError, ConnectionResetError):
                pass  # the host ended the run (or the download) before the end
            return
        super().do_GET()


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class DemoServer:
    """Serves a folder from 127.0.0.1 on a free port and records request lines."""

    def __init__(self, root, throttle=None, missing=(), truncate=(), product="DemoConclave"):
        self.root = root
        self.product = product
        self.throttle = throttle or {}
        self.missing = set(missing)
        self.truncate = set(truncate)
        self.requests = []
        root_dir = root

        class Handler(_Handler):
            def __init__(self, *a, **kw):
                super().__init__(*a, directory=root_dir, **kw)

        self.httpd = _Server(("127.0.0.1", 0), Handler)
        self.httpd.owner = self
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def start(self):
        write_page(self.root, self.url(""), self.url("/log?"), product=self.product)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def summarize(lines, requests, host_dir):
    """A short account of a run from the host's output and the server's log."""
    out = ["What happened:"]
    manifests = [l for l in lines if l.startswith("host: download ") and ".ini" in l]
    files = [l.split(" ", 3)[3] for l in lines if l.startswith("host: download ") and ".ini" not in l]
    for l in manifests:
        out.append("  manifest fetched: %s" % l.split(" ", 3)[3])
    if files:
        out.append("  files downloaded: %d" % len(files))
        for f in files:
            out.append("    %s" % f)
    else:
        out.append("  nothing needed downloading: every file of the manifest is current")
    for l in lines:
        if l.startswith("trace: Write log:"):
            path, name = l[len("trace: Write log:"):].rsplit(",", 1)
            out.append("  installed %s at %s" % (name, path))
        elif l.startswith("host: unpack ") and "readme" in l:
            out.append("  expanded the compressed readme.tx_")
        elif l.startswith("trace: Main component is ready to be loaded"):
            out.append("  main component ready")
        elif l.startswith("component: "):
            out.append("  %s" % l)
        elif l.startswith("trace: NPVRGPC : Handle notification message"):
            out.append("  notification %s sent to the component" % l.rsplit(" ", 1)[1])
        elif l.startswith("trace: Download is done"):
            out.append("  all downloads done")
        elif l.startswith("host: navigate"):
            out.append("  %s" % l[len("host: "):])
        elif l.startswith("trace: vrgpcext: manifest signature verified: "):
            out.append("  manifest signature verified: %s" % l[len("trace: vrgpcext: manifest signature verified: "):])
        elif l.startswith("trace: vrgpcext: hash of ") and l.endswith(" matches the signed manifest"):
            out.append("  hash matched the signed manifest: %s"
                       % l[len("trace: vrgpcext: hash of "):-len(" matches the signed manifest")])
        elif l.startswith("trace: vrgpcext: download of ") and " refused: " in l:
            name, why = l[len("trace: vrgpcext: download of "):].split(" refused: ", 1)
            out.append("  REFUSED %s (%s): never unpacked, installed or loaded" % (name, why))
        elif l.startswith("trace: vrgpcext: manifest ") and " refused: " in l:
            why = l.split(" refused: ", 1)[1]
            out.append("  REFUSED the manifest (%s): nothing in it downloaded, installed or loaded" % why)
        elif l.startswith("host: message:"):
            out.append("  message to the user: %s" % l[len("host: message: "):])
    reports = [r for r in requests if r.split(" ")[1].startswith("/log")]
    for r in reports:
        out.append("  failure reported to the server: %s" % r)
    ended = [l for l in lines if l.startswith("host: GpcExitInstance")]
    out.append("  extension shut down cleanly" if ended else "  the host did not shut the extension down")
    out.append("  installed under %s" % host_dir)
    return out

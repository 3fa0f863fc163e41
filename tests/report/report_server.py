#!/usr/bin/env python3
"""A small HTTP server for the failure-report tests.

    report_server.py start DIR   start the server in the background; DIR/port
                                 holds its port once it listens, DIR/pid its id
    report_server.py stop DIR    stop the server started for DIR
    report_server.py serve DIR   run in the foreground (what start launches)

Every request line is appended, exactly as received, to DIR/requests.log
before the answer goes out; DIR/agents.log gets "<target> <User-Agent>". The answer depends on the first path segment:
/200 (also any other path) 200 with a body, /404, /500, /401 (with a Basic
challenge), /403, /407 (with a proxy challenge), and /hang, which never
answers. A query "?size=N" on /200 makes the body N bytes long.
"""
import http.server
import os
import signal
import subprocess
import sys
import threading
import time
import urllib.parse

LOG_LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log_dir = "."

    def log_message(self, fmt, *args):  # keep stderr quiet
        pass

    def record(self):
        with LOG_LOCK:
            with open(os.path.join(self.log_dir, "requests.log"), "ab") as f:
                f.write(self.raw_requestline.rstrip(b"\r\n") + b"\n")
                f.flush()
            with open(os.path.join(self.log_dir, "agents.log"), "ab") as f:
                agent = self.headers.get("User-Agent", "")
                f.write(self.path.encode("latin-1", "replace") + b" " + agent.encode("latin-1", "replace") + b"\n")
                f.flush()

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.record()
        parsed = urllib.parse.urlsplit(self.path)
        first = parsed.path.lstrip("/").split("/", 1)[0]
        if first == "hang":
            time.sleep(3600)
            return
        if first == "404":
            self.answer(404, b"not found")
        elif first == "500":
            self.answer(500, b"server error")
        elif first == "401":
            self.answer(401, b"credentials needed", [("WWW-Authenticate", 'Basic realm="gpc-test"')])
        elif first == "403":
            self.answer(403, b"forbidden")
        elif first == "407":
            self.answer(407, b"proxy credentials needed", [("Proxy-Authenticate", 'Basic realm="gpc-proxy"')])
        else:
            size = 64
            for key, value in urllib.parse.parse_qsl(parsed.query):
                if key == "size" and value.isdigit():
                    size = int(value)
            self.answer(200, (b"logged." * (size // 7 + 1))[:size])


def serve(log_dir):
    Handler.log_dir = log_dir
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port_file = os.path.join(log_dir, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


def start(log_dir):
    os.makedirs(log_dir, exist_ok=True)
    stop(log_dir)
    for name in ("port", "requests.log", "agents.log"):
        try:
            os.remove(os.path.join(log_dir, name))
        except FileNotFoundError:
            pass
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", log_dir],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(log_dir, "pid"), "w") as f:
        f.write(str(proc.pid))
    for _ in range(100):
        if os.path.exists(os.path.join(log_dir, "port")):
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    print("report server did not start", file=sys.stderr)
    return 1


def stop(log_dir):
    pid_file = os.path.join(log_dir, "pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (FileNotFoundError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    os.remove(pid_file)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    command, directory = sys.argv[1], os.path.abspath(sys.argv[2])
    if command == "serve":
        serve(directory)
    else:
        sys.exit(start(directory) if command == "start" else stop(directory))

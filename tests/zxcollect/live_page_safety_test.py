#!/usr/bin/env python3
"""The live page's safety over raw HTTP during a zxcollect run: only its own files and its
stream (traversal in every spelling: 404), GET only (405), at most 8 streams (503), idle and
half-open connections closed, loopback by default, a warning for another address, and a
port in use refused with exit status 3 before any box is opened.
    live_page_safety_test.py <zxcollect> <vci-sim>"""
import socket
import sys
import tempfile
import time

from live_support import Collection, Simulator, poll_until, raw_request, require_private_network

require_private_network()
zxcollect, vci_sim = sys.argv[1], sys.argv[2]


def get(target, method="GET"):
    return f"{method} {target} HTTP/1.1\r\nHost: page\r\nConnection: close\r\n\r\n"


REQUESTS = [
    ("the page", get("/"), 200),
    ("its script", get("/live.js"), 200),
    ("the charting library", get("/uPlot.iife.min.js"), 200),
    ("traversal", get("/../../../../etc/passwd"), 404),
    ("traversal below a file", get("/live.js/../../etc/passwd"), 404),
    ("encoded traversal", get("/%2e%2e/%2e%2e/%2e%2e/etc/passwd"), 404),
    ("encoded slashes", get("/..%2f..%2f..%2fetc%2fpasswd"), 404),
    ("double-encoded traversal", get("/%252e%252e/etc/passwd"), 404),
    ("backslashes", get("/..\\..\\etc\\passwd"), 404),
    ("absolute path", get("//etc/passwd"), 404),
    ("a path of the file system", get("/etc/passwd"), 404),
    ("the page's source folder", get("/web/index.html"), 404),
    ("POST", get("/", "POST"), 405),
    ("PUT", get("/index.html", "PUT"), 405),
    ("DELETE", get("/index.html", "DELETE"), 405),
    ("HEAD", get("/", "HEAD"), 405),
    ("OPTIONS", get("/", "OPTIONS"), 405),
    ("POST to the stream", get("/events", "POST"), 405),
]

failures = []


def expect(what, got, wanted):
    print(f"{what}: {got} (want {wanted})")
    if got != wanted:
        failures.append(f"{what}: got {got}, want {wanted}")


def open_stream(host, port):
    connection = socket.create_connection((host, port), timeout=5)
    connection.sendall(get("/events").encode())
    status = connection.recv(64)
    return connection, int(status.split()[1]) if status.startswith(b"HTTP/1.1 ") else 0


def closed_by_server(host, port, text):
    """Seconds until the server closes a connection that sent text and nothing more."""
    started = time.monotonic()
    with socket.create_connection((host, port), timeout=20) as connection:
        if text:
            connection.sendall(text.encode())
        try:
            while connection.recv(4096):
                pass
        except socket.timeout:
            return None
    return time.monotonic() - started


with tempfile.TemporaryDirectory() as root:
    simulator = Simulator(vci_sim)
    run = Collection(zxcollect, f"{root}/csv", "0", "--duration", "120")
    try:
        host, port = run.host_and_port()
        expect("default address", host, "127.0.0.1")
        for what, request, wanted in REQUESTS:
            expect(what, raw_request(host, port, request), wanted)

        streams = [open_stream(host, port) for _ in range(8)]
        expect("eight streams", [status for _, status in streams], [200] * 8)
        expect("the ninth stream", open_stream(host, port)[1], 503)
        streams.pop()[0].close()
        expect("a stream after one closed",
               poll_until(lambda: open_stream(host, port)[1] == 200, 10, "a free stream") and 200, 200)
        for connection, _ in streams:
            connection.close()

        for what, text in (("idle connection", ""), ("half-open request", "GET / HTTP/1.1\r\nHost: page\r\n")):
            seconds = closed_by_server(host, port, text)
            expect(f"{what} closed within 10 s", seconds is not None and seconds < 10, True)

        busy = Collection(zxcollect, f"{root}/busy", f"127.0.0.1:{port}", "--duration", "5")
        expect("a port in use: exit status", busy.wait(), 3)
        expect("a port in use: message", "cannot listen on 127.0.0.1:" in busy.error_text(), True)
        expect("a port in use: no box opened", "Opening device" in busy.text(), False)

        for address, warned in (("127.0.0.1:0", False), ("192.168.201.1:0", True)):
            other = Collection(zxcollect, f"{root}/other", address, "--duration", "1")
            other.wait()
            lines = [line for line in other.error_text().splitlines() if "no authentication" in line]
            expect(f"warning lines for {address}", len(lines), 1 if warned else 0)
    finally:
        run.stop()
        simulator.stop()

for failure in failures:
    print("FAIL:", failure)
print("PASS" if not failures else "FAILED")
sys.exit(1 if failures else 0)

#!/usr/bin/env python3
"""Live viewing never costs records: a run with every stream taken by a client that
connects and never reads saves exactly what the same run without them saves, all of the
frames the simulator sent (vci-sim --rate with a fixed frame count).
    live_page_stall_test.py <zxcollect> <vci-sim>"""
import socket
import sys
import tempfile

from live_support import Collection, Simulator, require_private_network, samples_saved

require_private_network()
zxcollect, vci_sim = sys.argv[1], sys.argv[2]
FRAMES = 200000  # per run: 4 s at 50,000 frames/s
EXPECTED = FRAMES * 6  # six measurement values in each frame


def stalled_client(host, port):
    connection = socket.socket()
    # A small receive window fills after a few messages; the client never reads.
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
    connection.connect((host, port))
    connection.sendall(b"GET /events HTTP/1.1\r\nHost: page\r\n\r\n")
    return connection


def collect(root, stalled):
    run = Collection(zxcollect, root, "0", "--duration", "8")
    clients = []
    if stalled:
        host, port = run.host_and_port()
        clients = [stalled_client(host, port) for _ in range(8)]
    run.wait()
    for client in clients:
        client.close()
    return samples_saved(run.text())


with tempfile.TemporaryDirectory() as root:
    simulator = Simulator(vci_sim, "--unique-values", "--rate", "50000", "--rate-count", str(FRAMES))
    try:
        alone = collect(f"{root}/alone", False)
        with_stalled = collect(f"{root}/stalled", True)
    finally:
        simulator.stop()
print(f"samples saved without clients {alone}, with 8 stalled clients {with_stalled}, sent {EXPECTED}")
ok = alone == with_stalled == EXPECTED
print("PASS" if ok else "FAILED")
sys.exit(0 if ok else 1)

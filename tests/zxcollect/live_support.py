"""What the script tests in Python share (the live page's, MQTT's, the Python package's): the private-namespace guard, the simulator and a
zxcollect run with --live as child processes, and the saved CSV values."""
import glob
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77


def private_network_problem():
    """Why this is not a private namespace that carries the box addresses on lo, or None."""
    try:  # the links of this namespace, as `ip -o link` lists them ("1: lo: <...")
        links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError) as failure:
        return f"cannot list the network interfaces ({failure}): run inside scripts/netns-run.sh"
    interfaces = sorted({line.split(": ")[1].split("@")[0] for line in links.splitlines() if ": " in line})
    if interfaces != ["lo"]:
        return f"interfaces {interfaces} besides lo: run inside scripts/netns-run.sh"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.bind(("192.168.201.130", 0))
        except OSError:
            return "lo does not carry 192.168.201.130: run inside scripts/netns-run.sh"
    return None


def require_private_network():
    problem = private_network_problem()
    if problem:
        print(f"skipped: {problem}")
        sys.exit(SKIP)


def poll_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"not within {seconds} s: {what}")


class Simulator:
    def __init__(self, vci_sim, *arguments):
        self.output = tempfile.NamedTemporaryFile("w+", suffix=".txt")
        self.process = subprocess.Popen([vci_sim, *arguments], stdout=self.output, stderr=subprocess.STDOUT)
        poll_until(lambda: "vci-sim ready" in open(self.output.name).read(), 10, "vci-sim ready")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class Collection:
    """zxcollect with --live, its output in a file; url once the page listens."""

    def __init__(self, zxcollect, save_root, live="0", *arguments):
        self.output = tempfile.NamedTemporaryFile("w+", suffix=".txt")
        self.errors = tempfile.NamedTemporaryFile("w+", suffix=".txt")
        command = [zxcollect, "--live", live, "--save", save_root, *arguments]
        self.process = subprocess.Popen(command, stdout=self.output, stderr=self.errors)

    def text(self):
        return open(self.output.name).read()

    def error_text(self):
        return open(self.errors.name).read()

    def url(self):
        found = poll_until(lambda: re.search(r"Live page: (http://\S+)", self.text()), 10, "the live page's address")
        return found.group(1)

    def host_and_port(self):
        found = re.match(r"http://([^:/]+):(\d+)/", self.url())
        return found.group(1), int(found.group(2))

    def wait(self, seconds=60):
        return self.process.wait(timeout=seconds)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)


def saved_values(save_root, name, measurement_channel):
    """The values of the CSV files of one name and measurement channel (CH1..CH6)."""
    values = set()
    for path in glob.glob(os.path.join(save_root, f"CH{measurement_channel}", f"{name}_*.csv")):
        with open(path) as f:
            next(f, None)
            values.update(int(line.rsplit(",", 1)[1]) for line in f if "," in line)
    return values


def samples_saved(output):
    return int(re.search(r"^Samples saved: (\d+)$", output, re.M).group(1))


def raw_request(host, port, text, timeout=5.0):
    """Sends text as it is and returns the status line's code (0 when the server closed)."""
    with socket.create_connection((host, port), timeout=timeout) as connection:
        connection.sendall(text.encode("latin-1"))
        reply = b""
        while b"\r\n" not in reply:
            chunk = connection.recv(4096)
            if not chunk:
                break
            reply += chunk
    found = re.match(rb"HTTP/1\.[01] (\d{3})", reply)
    return int(found.group(1)) if found else 0

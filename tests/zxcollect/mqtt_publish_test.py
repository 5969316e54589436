#!/usr/bin/env python3
"""zxcollect --mqtt against a real mosquitto broker on 127.0.0.1 inside the private
namespace. One case per row of CASES; each starts its own broker, simulator and run.
    mqtt_publish_test.py <zxcollect> <vci-sim> [case...]"""
import glob
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

from live_support import Simulator, poll_until, require_private_network, samples_saved, saved_values

require_private_network()
zxcollect, vci_sim = sys.argv[1], sys.argv[2]
only = set(sys.argv[3:])
PREFIX = "lab/bench1"
FRAMES = 20000  # per run at 5,000 frames/s: every frame is read and saved before the run ends


class Broker:
    """mosquitto on 127.0.0.1:port with the listener lines given."""

    def __init__(self, folder, port, lines=()):
        self.folder, self.port, self.lines = folder, port, list(lines)
        self.start()

    def start(self):
        config = os.path.join(self.folder, "mosquitto.conf")
        with open(config, "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\n")
            f.write("\n".join(self.lines or ["allow_anonymous true"]) + "\n")
        # Started as root, mosquitto reads its files as the user "mosquitto".
        os.chmod(self.folder, 0o755)
        for name in os.listdir(self.folder):
            os.chmod(os.path.join(self.folder, name), 0o644)
        self.log = open(os.path.join(self.folder, "mosquitto.log"), "a")
        self.process = subprocess.Popen(["mosquitto", "-c", config], stdout=self.log, stderr=subprocess.STDOUT)
        poll_until(self.listening, 10, "the broker listening")

    def listening(self):
        assert self.process.poll() is None, "mosquitto ended: " + open(self.log.name).read()
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)
            self.process.terminate()
            self.process.wait(timeout=10)


class Subscriber:
    """Every message below PREFIX, as (topic, text), in arrival order."""

    def __init__(self, port, user=None, **tls):
        self.messages, self.lock = [], threading.Lock()
        self.client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION2) if hasattr(mqtt, "CallbackAPIVersion") else mqtt.Client()
        self.client.on_message = self.received
        self.client.on_connect = lambda client, *rest: client.subscribe(PREFIX + "/#", qos=1)
        if user:
            self.client.username_pw_set(user, "right")
        if tls:
            self.client.tls_set(**tls)
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()

    def received(self, client, userdata, message):
        with self.lock:
            self.messages.append((message.topic, message.payload.decode()))

    def taken(self):
        with self.lock:
            return list(self.messages)

    def summaries(self, name):
        return [json.loads(text) for topic, text in self.taken() if topic == f"{PREFIX}/dev0/can0/{name}"]

    def statuses(self):
        return [text for topic, text in self.taken() if topic == PREFIX + "/status"]

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


def run_zxcollect(root, port, extra, seconds):
    return subprocess.Popen([zxcollect, "--save", f"{root}/csv", "--duration", str(seconds), "--mqtt",
                             f"127.0.0.1:{port}", "--mqtt-topic", PREFIX, "--mqtt-interval", "0.5", *extra],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def csv_records(root, name):
    lines = 0
    for path in glob.glob(f"{root}/csv/CH1/{name}_*.csv"):
        with open(path) as f:
            lines += sum(1 for line in f) - 1
    return lines


def tls_files(folder):
    """A CA, another one, and a server certificate for 127.0.0.1 signed by the first (openssl)."""
    def ssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, capture_output=True, cwd=folder)
    for name in ("ca", "other-ca"):
        ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={name}",
            "-keyout", f"{name}.key", "-out", f"{name}.pem")
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out", "server.csr")
    with open(os.path.join(folder, "ext.txt"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    ssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
        "-extfile", "ext.txt", "-out", "server.pem")
    return os.path.join(folder, "ca.pem")


def summaries_add_up(root, port, subscriber, zx_arguments, broker):
    run = run_zxcollect(root, port, zx_arguments, 8)
    out, err = run.communicate(timeout=60)
    assert run.returncode == 0, err
    time.sleep(0.5)
    for name in ("Temperature", "Voltage"):
        summaries = subscriber.summaries(name)
        total = sum(s["count"] for s in summaries)
        assert total == csv_records(root, name) > 0, f"{name}: counts {total}, CSV {csv_records(root, name)}"
        sent = saved_values(f"{root}/csv", name, 1)
        lasts = [s["last"][0] for s in summaries if s["count"] > 0]
        assert lasts and all(value in sent for value in lasts), f"{name}: last values not sent: {lasts[:5]}"
        assert all(s["min"][0] <= s["mean"][0] <= s["max"][0] for s in summaries if s["count"] > 0)
        if "--mqtt-records" in zx_arguments:
            batches = [json.loads(text)["records"] for topic, text in subscriber.taken()
                       if topic == f"{PREFIX}/dev0/can0/{name}/records"]
            values = [record[1] for batch in batches for record in batch]
            assert sorted(values) == sorted(sent), f"{name}: {len(values)} records published, {len(sent)} saved"
    status = json.loads(subscriber.statuses()[-1])
    assert status["state"] == "stopped" and status["records"] > 0, status
    return f"summaries add up to the CSV records; final status {status['state']}"


def broker_restart(root, port, subscriber, zx_arguments, broker):
    run = run_zxcollect(root, port, zx_arguments, 12)
    poll_until(lambda: subscriber.summaries("Temperature"), 10, "first summaries")
    broker.stop()
    time.sleep(2.0)
    broker.start()
    again = Subscriber(port)  # the broker keeps no subscriptions over a restart
    try:
        poll_until(lambda: again.summaries("Temperature"), 20, "summaries after the broker's restart")
        out, err = run.communicate(timeout=60)
        assert run.returncode == 0, err
        assert "is back after" in err and "dropped meanwhile" in err, err
        status = json.loads(again.statuses()[-1])
        assert status["broker_outages"] == 1 and status["last_outage_seconds"] > 1.0, status
    finally:
        again.stop()
    return f"resumed; {err.strip().splitlines()[-1]}"


def refused(expected_texts):
    def case(root, port, subscriber, zx_arguments, broker):
        run = run_zxcollect(root, port, zx_arguments, 3)
        out, err = run.communicate(timeout=60)
        assert run.returncode == 4, (run.returncode, err)
        assert all(text in err for text in expected_texts), err
        assert "Reading" not in out, out
        return err.strip().splitlines()[0]
    return case


def stalled_broker(root, port, subscriber, zx_arguments, broker):
    started = time.monotonic()
    run = run_zxcollect(root, port, zx_arguments, 8)
    poll_until(lambda: subscriber.summaries("Temperature"), 10, "first summaries")
    broker.process.send_signal(signal.SIGSTOP)
    out, err = run.communicate(timeout=60)
    seconds = time.monotonic() - started
    broker.process.send_signal(signal.SIGCONT)
    assert run.returncode == 0, err
    saved = samples_saved(out)
    assert saved == FRAMES * 6, f"saved {saved} of {FRAMES * 6}"
    assert seconds < 20, f"zxcollect took {seconds:.1f} s to end beside a stopped broker"
    return f"all {saved} samples saved with the broker stopped; ended after {seconds:.1f} s"


def killed(root, port, subscriber, zx_arguments, broker):
    run = run_zxcollect(root, port, zx_arguments, 30)
    poll_until(lambda: any(text.startswith("{") for text in subscriber.statuses()), 10, "a running status")
    run.kill()
    run.communicate(timeout=30)
    poll_until(lambda: subscriber.statuses()[-1] == "offline", 30, "the last will offline")
    retained = Subscriber(port)
    try:
        poll_until(lambda: retained.statuses(), 10, "the retained status")
        assert retained.statuses() == ["offline"], retained.statuses()
    finally:
        retained.stop()
    return "the broker published and kept the last will offline"


def broker_lines(folder, case):
    if case == "password":
        subprocess.run(["mosquitto_passwd", "-b", "-c", f"{folder}/passwords", "bench", "right"], check=True)
        return ["allow_anonymous false", f"password_file {folder}/passwords"]
    if case.startswith("tls"):
        return ["allow_anonymous true", f"cafile {folder}/ca.pem", f"certfile {folder}/server.pem", f"keyfile {folder}/server.key"]
    return []


# name, broker setup, zxcollect's own arguments, check
CASES = [
    ("summaries", "", [], summaries_add_up),
    ("records", "", ["--mqtt-records", "--mqtt-qos", "1"], summaries_add_up),
    ("restart", "", [], broker_restart),
    ("password", "password", ["--mqtt-user", "bench", "--mqtt-password-file", "{folder}/wrong"],
     refused(["refused the connection of user bench", "not authorised"])),
    ("password_right", "password", ["--mqtt-user", "bench", "--mqtt-password-file", "{folder}/right"],
     summaries_add_up),
    ("tls", "tls", ["--mqtt-tls", "{folder}/ca.pem"], summaries_add_up),
    ("tls_wrong_ca", "tls", ["--mqtt-tls", "{folder}/other-ca.pem"], refused(["TLS with the broker", "certificate verify failed", "must verify against"])),
    ("stalled", "", ["--mqtt-records"], stalled_broker),
    ("killed", "", [], killed),
]

failures = 0
for index, (name, setup, zx_arguments, check) in enumerate(CASES):
    if only and name not in only:
        continue
    with tempfile.TemporaryDirectory() as folder:
        for password in ("right", "wrong"):
            with open(f"{folder}/{password}", "w") as f:
                f.write(password + "\n")
        tls = {"ca_certs": tls_files(folder)} if setup == "tls" else {}
        port = 18830 + index
        broker = Broker(folder, port, broker_lines(folder, setup))
        simulator = Simulator(vci_sim, "--unique-values", "--rate", "5000", "--rate-count", str(FRAMES))
        subscriber = Subscriber(port, "bench" if setup == "password" else None, **tls)
        try:
            arguments = [a.replace("{folder}", folder) for a in zx_arguments]
            print(f"{name}: {check(folder, port, subscriber, arguments, broker)}")
        except (AssertionError, subprocess.TimeoutExpired) as problem:
            failures += 1
            print(f"{name}: FAILED: {problem}")
        finally:
            subscriber.stop()
            simulator.stop()
            broker.stop()
print("PASS" if failures == 0 else f"FAILED ({failures})")
sys.exit(0 if failures == 0 else 1)

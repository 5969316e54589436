#!/usr/bin/env python3
"""Injects known faults one at a time into a checkout, rebuilds the Linux test programs and
runs them in a private network namespace; prints which test cases fail for each fault, so a
change to the tests can be checked to still catch what they caught before. The source is
put back after each fault.
  scripts/mutation-pass.py <tree> <build-dir> [fault-name...]"""
import pathlib
import re
import subprocess
import sys

FAULTS = [
    # name, file, text, replacement
    ("scanner-drops-carried-tail", "vci/transport/KvVciFrameScanner.cpp",
     "std::memmove(protocolBuffer_.data(), area + consumed, carried_);", "carried_ = 0;"),
    ("scanner-resync-skips-two", "vci/transport/KvVciFrameScanner.cpp",
     "            ++p;\n            continue;", "            p += 2;\n            continue;"),
    ("scanner-largest-payload-oversized", "vci/transport/KvVciFrameScanner.cpp",
     "if (payloadLength > kVciMaxPayload)", "if (payloadLength >= kVciMaxPayload)"),
    ("request-reply-of-other-channel-taken", "vci/device/KvVciProtocol.cpp",
     "&& reply.channel == pending.channel", ""),
    ("request-any-reply-taken", "vci/device/KvVciDevice.cpp",
     "if (!requestPending_ || !KvVciProtocol::answers(record, pendingKey_))", "if (!requestPending_)"),
    ("csv-negative-without-sign", "filesave/ZxChannelFileManager.cpp",
     "        *out++ = '-';\n", ""),
    ("csv-no-value-written", "filesave/ZxChannelFileManager.cpp",
     "if (point->value == ZX_NO_VALUE) {", "if (false) {"),
    ("csv-existing-file-truncated", "filesave/SharedOutputFilePosix.cpp",
     "O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC", "O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC"),
    ("mapping-comment-parsed", "filesave/ZxIdMappingParser.cpp",
     "if (line.empty() || line.front() == '#') {", "if (line.empty()) {"),
    ("mapping-shared-names-accepted", "filesave/ZxIdMappingParser.cpp",
     "if (refuseSharedNames(table, error) != ZX_OK) {", "if (false) {"),
    ("mapping-identifier-above-32-bits", "filesave/ZxIdMappingParser.cpp",
     "if (magnitude > 0xFFFFFFFFull) {", "if (magnitude > 0xFFFFFFFFFFull) {"),
    ("reader-zero-capacity-accepted", "collector/ZxCollectorReader.cpp",
     "capacity <= 0", "capacity < 0"),
    ("reader-records-not-saved", "collector/ZxCollectorReader.cpp",
     "fileManager_->pushData(records, count);", "(void)count;"),
    ("reader-stale-timestamp-bytes", "collector/ZxCollectorReader.cpp",
     "std::memset(record.timestamp, 0, sizeof(record.timestamp));", ""),
    ("unload-saves-not-stopped", "api/ZxLibrary.cpp",
     "ZxCollectorManager::instance().closeAllReaders();", ""),
    ("unload-devices-not-closed", "api/ZxLibrary.cpp",
     "KvVciDeviceManager::instance().closeAllDevices(KvVciCloseMode::OnCallingThread);", ""),
]

PROGRAMS = ["test_api", "test_collector", "test_common", "test_filesave", "test_lifecycle",
            "test_sim", "test_stress", "test_vci", "test_zxcollect"]


def run_tests(tree, build):
    failed = []
    for program in PROGRAMS:
        binary = build / "tests" / program
        if not binary.exists():
            continue
        try:
            result = subprocess.run([str(tree / "scripts/netns-run.sh"), str(binary), "--gtest_brief=1"],
                                    cwd=build, capture_output=True, text=True, timeout=600)
            out = result.stdout + result.stderr
            names = sorted(set(re.findall(r"\[  FAILED  \] ([\w/.]+)", out)))
            if result.returncode != 0 and not names:
                names = [f"(program ended {result.returncode})"]
        except subprocess.TimeoutExpired:
            names = ["(hung: 600 s)"]
        failed += [f"{program}: {n}" for n in names]
    return failed


def main():
    tree, build = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
    wanted = set(sys.argv[3:])
    for name, file, text, replacement in FAULTS:
        if wanted and name not in wanted:
            continue
        path = tree / file
        original = path.read_text()
        if original.count(text) != 1:
            print(f"{name}: DOES NOT APPLY ({original.count(text)} matches in {file})", flush=True)
            continue
        path.write_text(original.replace(text, replacement))
        try:
            built = subprocess.run(["ninja", "-C", str(build)] + PROGRAMS, capture_output=True, text=True)
            if built.returncode != 0:
                print(f"{name}: does not build\n{built.stdout[-2000:]}", flush=True)
                continue
            failed = run_tests(tree, build)
            verdict = "CAUGHT" if failed else "MISSED"
            print(f"{name}: {verdict}", flush=True)
            for line in failed:
                print(f"    {line}", flush=True)
        finally:
            path.write_text(original)
    subprocess.run(["ninja", "-C", str(build)] + PROGRAMS, capture_output=True)


main()

#!/usr/bin/env python3
"""The host's side of the virtual machine rig (scripts/test-vm.sh).

Starts QEMU with the guest's console on this program's standard input and
output, and its QMP socket at --qmp. Reads the console line by line: lines
that begin with "@vm " are the guest's messages, every line goes to --log.

  @vm case NAME ok DETAIL       a case passed
  @vm case NAME FAIL DETAIL     a case failed
  @vm ask unplug ID             remove device ID (device_del), then answer
                                "@host unplugged ID" once QEMU reports it gone
  @vm ask replug ID             add device ID again with the properties it
                                was started with, then answer "@host replugged ID"
  @vm end                       the cases are over; the guest powers off

Each case line is printed on standard output as "vm: NAME ok|FAIL DETAIL".
Exit status: 0 when the guest reached its end, every case it announced
(--expect) was reported and none failed; 1 otherwise. The machine is killed
when it has not ended after --timeout seconds.
"""
import argparse
import json
import os
import select
import socket
import subprocess
import sys
import time


class Qmp:
    """A QMP connection: commands one at a time, events kept for waiting."""

    def __init__(self, path, deadline):
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.buffer = b""
        self.events = []
        self._read_message()  # the greeting
        self.command("qmp_capabilities")

    def _read_message(self, timeout=10.0):
        end = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError("QMP: no answer")
            ready, _, _ = select.select([self.sock], [], [], left)
            if ready:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise EOFError("QMP: connection closed")
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def command(self, name, **arguments):
        message = {"execute": name}
        if arguments:
            message["arguments"] = arguments
        self.sock.sendall(json.dumps(message).encode() + b"\n")
        while True:
            reply = self._read_message()
            if "event" in reply:
                self.events.append(reply)
            elif "error" in reply:
                raise RuntimeError("QMP %s: %s" % (name, reply["error"].get("desc")))
            elif "return" in reply:
                return reply["return"]

    def wait_event(self, name, device, timeout):
        end = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event["event"] == name and event.get("data", {}).get("device") == device:
                    del self.events[i]
                    return True
            left = end - time.monotonic()
            if left <= 0:
                return False
            try:
                reply = self._read_message(left)
            except TimeoutError:
                return False
            if "event" in reply:
                self.events.append(reply)


def device_properties(device):
    """"usb-serial,id=usb0,chardev=cu0" as device_add's arguments."""
    words = device.split(",")
    arguments = {"driver": words[0]}
    for word in words[1:]:
        key, _, value = word.partition("=")
        arguments[key] = value
    return arguments["id"], arguments


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qmp", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("--device", action="append", default=[],
                        help="a device that may be unplugged, as given to -device")
    parser.add_argument("--expect", default="", help="comma-separated case names")
    parser.add_argument("--verbose", action="store_true", help="echo the console")
    parser.add_argument("qemu", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.qemu[1:] if args.qemu and args.qemu[0] == "--" else args.qemu
    devices = dict(device_properties(device) for device in args.device)
    for device in args.device:
        command += ["-device", device]

    start = time.monotonic()
    deadline = start + args.timeout
    log = open(args.log, "w")
    qemu = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    results = {}
    ended = False
    qmp = None
    try:
        qmp = Qmp(args.qmp, start + 30)
        pending = b""
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                print("vm: the machine did not end within %.0f s" % args.timeout)
                break
            ready, _, _ = select.select([qemu.stdout], [], [], min(left, 1.0))
            if not ready:
                if qemu.poll() is not None:
                    break
                continue
            chunk = os.read(qemu.stdout.fileno(), 65536)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                raw, pending = pending.split(b"\n", 1)
                line = raw.decode("utf-8", "replace").rstrip("\r")
                log.write("%8.3f %s\n" % (time.monotonic() - start, line))
                log.flush()
                if args.verbose:
                    print(line, flush=True)
                words = line.split(None, 4)
                if len(words) < 2 or words[0] != "@vm":
                    continue
                if words[1] == "case" and len(words) >= 4:
                    name, verdict = words[2], words[3]
                    detail = words[4] if len(words) > 4 else ""
                    results[name] = verdict == "ok"
                    print("vm: %s %s %s" % (name, verdict, detail), flush=True)
                elif words[1] == "ask" and len(words) >= 4:
                    action, device = words[2], words[3]
                    if action == "unplug":
                        qmp.command("device_del", id=device)
                        done = qmp.wait_event("DEVICE_DELETED", device, 10)
                        answer = "unplugged" if done else "still-there"
                    else:
                        qmp.command("device_add", **devices[device])
                        answer = "replugged"
                    log.write("%8.3f host: %s %s\n" % (time.monotonic() - start, answer, device))
                    qemu.stdin.write(("@host %s %s\n" % (answer, device)).encode())
                    qemu.stdin.flush()
                elif words[1] == "end":
                    ended = True
        if ended:
            try:
                qemu.wait(max(1.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
    finally:
        if qemu.poll() is None:
            qemu.kill()
            qemu.wait()
        log.close()

    missing = [name for name in args.expect.split(",") if name and name not in results]
    for name in missing:
        print("vm: %s FAIL not reported" % name)
    failed = [name for name, ok in results.items() if not ok]
    print("vm: machine %s after %.1f s" % ("ended" if ended else "did NOT end", time.monotonic() - start))
    return 0 if ended and not missing and not failed else 1


if __name__ == "__main__":
    sys.exit(main())

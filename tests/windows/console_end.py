#!/usr/bin/python3
"""Ctrl+C in a console ends the Windows program like "Kilépés", under wine.

The program runs headless on a terminal of its own (a pseudo-terminal), so that wine gives it a
console; Ctrl+C typed there reaches a program as SIGINT, which wine hands to the program's
console handler as CTRL_C_EVENT. A UDP socket of this script stands in for the game server and
records what the robot sends. Checks: the goodbye goes out, the disconnect is said, the status
is 0, and the day's log was written before the link closed (code page 1250, CR LF).

Usage: console_end.py --wine WINE64 --vigilor PATH_TO_vigilor.exe
(WINEPREFIX and the rest of wine's environment come from the caller.)
"""
import argparse
import datetime
import os
import pty
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--vigilor", required=True)
    args = parser.parse_args()

    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 0))
    server.setblocking(False)
    port = server.getsockname()[1]
    folder = tempfile.mkdtemp(prefix="vigilor-console-end-")
    env = dict(os.environ)
    setup = subprocess.run(
        [args.wine, args.vigilor, "--data-dir", windows_path(folder),
         "--set", "IP=127.0.0.1", "--set", "Port=%d" % port, "--set", "SaveServerInfo=1",
         "--set", "AutoConnect=1", "--set", "EventNotify=1", "--password-stdin"],
        input=b"pw\n", env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if setup.returncode != 0:
        print("FAIL: the set-up ended with %d: %s" % (setup.returncode, setup.stdout))
        return 1

    pid, terminal = pty.fork()
    if pid == 0:
        os.execve(args.wine, [args.wine, args.vigilor, "--headless", "--data-dir",
                              windows_path(folder)], env)
    output = b""
    received = []

    def pump(seconds, until=None):
        nonlocal output
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([terminal, server], [], [], 0.1)
            if terminal in ready:
                try:
                    output += os.read(terminal, 65536)
                except OSError:
                    pass
            if server in ready:
                try:
                    received.append(server.recv(65536))
                except BlockingIOError:
                    pass
            if until and until():
                return True
        return False

    failures = []
    if not pump(60, lambda: b"Csatlakozva" in b"".join(received)):
        failures.append("the robot did not connect: " + output.decode("utf-8", "replace"))
    else:
        pump(1)
        os.kill(pid, signal.SIGINT)  # Ctrl+C on the terminal
        ended = []

        def reaped():
            if not ended:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    ended.append(status)
            return bool(ended)

        pump(10, reaped)
        if not ended:
            failures.append("Ctrl+C did not end the program within 10 s")
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
        elif os.waitstatus_to_exitcode(ended[0]) != 0:
            failures.append("the exit status is %d" % os.waitstatus_to_exitcode(ended[0]))
        pump(1)
        sent = b"\n".join(received)
        if b"Lecsatlakozva" not in sent:
            failures.append("no goodbye reached the server: %r" % sent[-300:])
        # Wine's console draws the text with cursor movements between the letters.
        shown = re.sub(rb"\x1b\[1C", b" ", output)
        shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown).replace(b"\r", b"")
        if b"127.0.0.1:%d\n" % port not in shown or not shown.rstrip().endswith(b"Lecsatlakozva"):
            failures.append("the disconnect was not said on the console: %r" % shown[-600:])
        log = os.path.join(folder, "logs", "console (%s).log" %
                           datetime.date.today().strftime("%Y.%m.%d."))
        try:
            saved = open(log, "rb").read()
        except OSError as error:
            failures.append("no day's log: %s" % error)
            saved = b""
        if saved:
            if b"vigilor sikeresen elindult\r\n" not in saved:
                failures.append("the day's log lacks the start")
            if b"Lecsatlakoz\xe1s szerver" in saved:
                failures.append("the day's log was written after the link closed")
            if saved.count(b"\n") != saved.count(b"\r\n"):
                failures.append("the day's log has a line end other than CR LF")
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("PASS: Ctrl+C ended the program like \"Kilépés\"")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Ctrl+C ends the Windows program like "Kilépés", under wine.

Wine hands SIGINT to a program's console handler as CTRL_C_EVENT when the program has a console.
It is run headless twice: on a terminal of its own (a pseudo-terminal: wine gives it that
console, and a terminal's Ctrl+C is SIGINT), and with its output in pipes, started by a program
that gives it no console at all (the headless program then makes one of its own). A UDP socket
of this script stands in for the game server and records what the robot sends. Checks: the
goodbye goes out, the disconnect is said on standard output, the status is 0, and the day's log
was written before the link closed (code page 1250, CR LF).

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


def run_case(args, on_terminal):
    """The failures of one run, empty when it passed."""
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
        return ["the set-up ended with %d: %s" % (setup.returncode, setup.stdout)]

    command = [args.wine, args.vigilor, "--headless", "--data-dir", windows_path(folder)]
    if on_terminal:
        pid, reader = pty.fork()
        if pid == 0:
            os.execve(args.wine, command, env)
    else:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        pid, reader = process.pid, process.stdout.fileno()
    output = b""
    received = []

    def pump(seconds, until=None):
        nonlocal output
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([reader, server], [], [], 0.1)
            if reader in ready:
                try:
                    output += os.read(reader, 65536)
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

    ended = []

    def reaped():
        if not ended:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                ended.append(status)
        return bool(ended)

    if not pump(60, lambda: b"Csatlakozva" in b"".join(received)):
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        return ["the robot did not connect: " + output.decode("utf-8", "replace")]
    pump(1)
    os.kill(pid, signal.SIGINT)  # Ctrl+C
    pump(10, reaped)
    failures = []
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
        return failures + ["no day's log: %s" % error]
    if b"vigilor sikeresen elindult\r\n" not in saved:
        failures.append("the day's log lacks the start")
    if b"Lecsatlakoz\xe1s szerver" in saved:
        failures.append("the day's log was written after the link closed")
    if saved.count(b"\n") != saved.count(b"\r\n"):
        failures.append("the day's log has a line end other than CR LF")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--vigilor", required=True)
    args = parser.parse_args()
    failed = False
    for on_terminal, where in ((True, "on a terminal"), (False, "without a console")):
        failures = run_case(args, on_terminal)
        for failure in failures:
            print("FAIL: %s: %s" % (where, failure))
        if not failures:
            print("PASS: %s: Ctrl+C ended the program like \"Kilépés\"" % where)
        failed = failed or bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

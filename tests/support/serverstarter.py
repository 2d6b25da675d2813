#!/usr/bin/python3
"""Starts the Python test servers (httpserver.py, ftpserver.py) for test programs that cannot
start /usr/bin/python3 themselves: the Windows test programs under wine, whose CreateProcess
starts a Unix program without a process handle or pipes to talk to it.

Usage: serverstarter.py [--wineprefix DIR]

Listens on 127.0.0.1, prints "PORT n" once it does, and serves until its standard input closes.
A test program (tests/support/pyservers.h, with VIGILOR_TEST_SERVER_STARTER=n) connects once
for each server it wants and sends one line of JSON: {"script": "httpserver.py", "arguments":
[...]}. Arguments that are Windows paths ("C:/...", "Z:\\...") are turned into the Unix paths
that the wine prefix's drives stand for. The server runs as if the test had started it, its
standard input and output being this connection:

  - every line the server prints comes as it is; a line on its standard error comes as
    "ERR <line>";
  - "SYNC" from the test is answered with "SYNC" after everything the server had printed by
    then, as reading a pipe would give it;
  - "STOP", or the end of the connection, closes the server's standard input (which ends it);
    "EXIT <status>" follows once it has ended, then the connection closes. A server that ends by
    itself ends the connection the same way.
"""
import json
import os
import selectors
import socket
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = ("httpserver.py", "ftpserver.py")


def unix_path(argument, wineprefix):
    """A Windows absolute path as the Unix path its drive stands for; anything else as it is."""
    if len(argument) < 3 or argument[1] != ":" or argument[2] not in "/\\" \
            or not argument[0].isalpha():
        return argument
    rest = argument[3:].replace("\\", "/")
    drive = argument[0].lower()
    if wineprefix:
        root = os.path.realpath(os.path.join(wineprefix, "dosdevices", drive + ":"))
    elif drive == "z":
        root = "/"
    else:
        return argument
    return os.path.join(root, rest)


def serve(connection, wineprefix):
    reader = connection.makefile("rb")
    request = json.loads(reader.readline() or b"{}")
    script = request.get("script", "")
    if script not in SCRIPTS:
        connection.sendall(b"ERR no such test server: %s\nEXIT 2\n" % script.encode())
        connection.close()
        return
    arguments = [unix_path(a, wineprefix) for a in request.get("arguments", [])]
    child = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, script)] + arguments,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=HERE)
    pending = {child.stdout: b"", child.stderr: b""}
    streams = {child.stdout, child.stderr}

    def forward(stream, data):
        """Sends the whole lines of what the server wrote on `stream`."""
        pending[stream] += data
        lines = pending[stream].split(b"\n")
        pending[stream] = lines.pop()
        prefix = b"ERR " if stream is child.stderr else b""
        for line in lines:
            connection.sendall(prefix + line + b"\n")

    def drain(stream):
        """Sends what the stream holds right now; False at its end."""
        try:
            while True:
                data = os.read(stream.fileno(), 65536)
                if not data:
                    return False
                forward(stream, data)
        except BlockingIOError:
            return True

    def stop_child():
        try:
            child.stdin.close()
        except BrokenPipeError:
            pass

    selector = selectors.DefaultSelector()
    for stream in streams:
        os.set_blocking(stream.fileno(), False)
        selector.register(stream, selectors.EVENT_READ)
    selector.register(connection, selectors.EVENT_READ)
    commands = b""
    try:
        while streams:
            for key, _ in selector.select():
                if key.fileobj is connection:
                    data = connection.recv(4096)
                    if not data:
                        selector.unregister(connection)
                        stop_child()
                        continue
                    commands += data
                    while b"\n" in commands:
                        command, commands = commands.split(b"\n", 1)
                        if command == b"SYNC":
                            for stream in list(streams):
                                drain(stream)
                            connection.sendall(b"SYNC\n")
                        elif command == b"STOP":
                            stop_child()
                elif key.fileobj in streams and not drain(key.fileobj):
                    selector.unregister(key.fileobj)
                    streams.discard(key.fileobj)
    except OSError:  # the test's end of the connection is gone
        stop_child()
    try:
        status = child.wait(3)
    except subprocess.TimeoutExpired:
        child.kill()
        status = child.wait()
    try:
        for stream in (child.stdout, child.stderr):
            if pending[stream]:
                forward(stream, b"\n")
        connection.sendall(b"EXIT %d\n" % status)
    except OSError:
        pass
    connection.close()


def main():
    wineprefix = None
    if len(sys.argv) > 2 and sys.argv[1] == "--wineprefix":
        wineprefix = sys.argv[2]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    def watch_stdin():
        # The servers end too: their standard input, held here, closes with this process.
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, wineprefix), daemon=True).start()


if __name__ == "__main__":
    main()

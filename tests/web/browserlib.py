"""What the browser tests of the web page share: the checks, a private environment, the practice
server and the program started in it, HTTP requests beside the browser, headless Chromium, and
the end of every process they started."""

import argparse
import http.client
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok:", what, flush=True)


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def scrambled(password):
    """The settings file's form of the rcon password: each byte XOR its position (from 1)."""
    return bytes(b ^ ((i + 1) % 256) for i, b in enumerate(password.encode("cp1250")))


class Output:
    """A process's standard output, read line by line on a thread of its own."""

    def __init__(self, process):
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, args=(process.stdout,), daemon=True).start()

    def _read(self, stream):
        for raw in stream:
            with self.lock:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def text(self):
        with self.lock:
            return "\n".join(self.lines)

    def wait_for(self, pattern, timeout=15):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            found = re.search(pattern, self.text(), re.M)
            if found:
                return found
            time.sleep(0.05)
        return None


def http_request(port, method, path, body=None, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def upgrade_status(port, path, cookie=None):
    """The status a WebSocket handshake gets: 101 when the live feed opens."""
    headers = {"Upgrade": "websocket", "Connection": "Upgrade",
               "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version": "13"}
    if cookie:
        headers["Cookie"] = cookie
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        connection.request("GET", path, headers=headers)
        return connection.getresponse().status
    finally:
        connection.close()


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                     "--window-size=420,900", "--user-data-dir=" + folder):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def private_environment(work):
    """An environment of the test's own (home, configuration, runtime folder), made the
    process's own too, so that nothing of the machine's user reaches the program."""
    environment = {
        "PATH": "/usr/bin:/bin",
        "HOME": os.path.join(work, "home"),
        "XDG_CONFIG_HOME": os.path.join(work, "home", ".config"),
        "XDG_DATA_HOME": os.path.join(work, "home", ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(work, "home", ".cache"),
        "XDG_RUNTIME_DIR": os.path.join(work, "run"),
        "LANG": "C.UTF-8",
        "TZ": "UTC",
    }
    for name in ("HOME", "XDG_RUNTIME_DIR"):
        os.makedirs(environment[name], mode=0o700, exist_ok=True)
    os.environ.clear()
    os.environ.update(environment)
    return environment


def stop_all(processes):
    """Ends what a test started, the last started first: browsers quit, programs get SIGTERM
    and are killed if they do not end within 10 s."""
    for process in reversed(processes):
        if isinstance(process, webdriver.Chrome):
            try:
                process.quit()
            except Exception:
                pass
            continue
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def main(run, prefix):
    """The command line every browser test takes (--vigilor, --testserver), a work folder
    removed afterwards, and PASS or FAIL as the last line."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--vigilor", required=True)
    parser.add_argument("--testserver", required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        run(args, work)
    except Failure as failure:
        print("FAIL:", failure, flush=True)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS", flush=True)
    return 0


def data_folder(work, game_port, password, extra_settings=b""):
    """A data folder whose settings connect at start to the practice server on game_port with
    the password; extra_settings (bytes, CR LF lines) are appended to the settings file."""
    data = os.path.join(work, "data")
    os.makedirs(data)
    with open(os.path.join(data, "vigilor.ini"), "wb") as f:
        f.write(b"[System]\r\nSaveServerInfo=1\r\nAutoConnect=1\r\n[ServerInfo]\r\nIP=127.0.0.1\r\n"
                b"Port=" + str(game_port).encode() + b"\r\nPWD=" + scrambled(password) + b"\r\n" +
                extra_settings)
    return data


def make_web_key(args, data, environment, *options):
    """`vigilor --data-dir DATA --web-user OPTIONS...`: its status, standard output and error."""
    done = subprocess.run([args.vigilor, "--data-dir", data, "--web-user"] + list(options),
                          capture_output=True, env=environment, timeout=30)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def key_of(output):
    """The personal key a --web-user run printed, or None."""
    found = re.search(r"^([0-9a-f]{64})$", output, re.M)
    return found.group(1) if found else None


def players_file(work, players):
    """The practice server's player list: lines of slot;score;ping;name;address;rate."""
    path = os.path.join(work, "players.txt")
    with open(path, "w") as f:
        f.write(players)
    return path


def start_practice(args, environment, processes, game_port, password, *options):
    """The practice server on 127.0.0.1:game_port, answering at once; returns the reader of what
    it received (a line per command)."""
    game = subprocess.Popen([args.testserver, "--port", str(game_port), "--password", password,
                             "--flood-ms", "0"] + list(options),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment)
    processes.append(game)
    return Output(game)


def start_robot(args, environment, processes, data):
    """The program without a window on the data folder, with the web page on a free port of
    127.0.0.1; returns the process, the reader of its console and the port. A port of its own
    each time: the console of a restart holds the day's earlier lines."""
    port = free_port(socket.SOCK_STREAM)
    robot = subprocess.Popen([args.vigilor, "--headless", "--data-dir", data,
                              "--web", "127.0.0.1:%d" % port],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=environment)
    processes.append(robot)
    console = Output(robot)
    check(console.wait_for(r">> Webes felület: http://127\.0\.0\.1:%d/" % port),
          "the web page starts and the console says where")
    return robot, console, port

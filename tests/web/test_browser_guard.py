#!/usr/bin/python3
"""The web page's guard in a real browser: headless Chromium against the built program on the
practice server, through a small reverse proxy on 127.0.0.1 that the robot trusts.

Covers: a ban entry holding the rcon password's text shown as it is and removed from the page;
a command that sets the rcon password shown with a fixed mark; the right key, the shared one
and an operator's personal one, let in while another client, forwarded by the proxy, waits after
its wrong keys, and those wrong keys said on the console once; a page reached under a foreign
name (DNS rebinding) refused with 421. The proxy asks the robot to close each connection after
its answer, and relies on it: a second request on the same connection would reach the robot
without the proxy's headers.
"""

import os
import re
import socket
import sys
import threading

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

from browserlib import (check, data_folder, free_port, http_request, key_of, main, make_web_key,
                        players_file, private_environment, start_practice, start_robot, stop_all)

PASSWORD = "demo"
PLAYERS = "3;12;48;Kovacs;10.0.0.3:28960;25000\n"


class Proxy:
    """A reverse proxy: each request's head gets X-Forwarded-For (the `client` of the moment),
    X-Forwarded-Host (the Host the browser sent) and the robot's Host; a request that is not a
    WebSocket asks for Connection: close, so that one connection carries one request. Then the
    bytes flow both ways as they come."""

    def __init__(self, port, upstream):
        self.client = "198.51.100.66"
        self.upstream = upstream
        self.server = socket.create_server(("127.0.0.1", port))
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn, self.client), daemon=True).start()

    def _serve(self, conn, client):
        try:
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = conn.recv(65536)
                if not chunk:
                    conn.close()
                    return
                head += chunk
            head, rest = head.split(b"\r\n\r\n", 1)
            lines = head.split(b"\r\n")
            kept = [lines[0]]
            host = b""
            upgrade = any(line.lower().startswith(b"upgrade:") for line in lines[1:])
            for line in lines[1:]:
                name = line.split(b":", 1)[0].strip().lower()
                if name == b"host":
                    host = line.split(b":", 1)[1].strip()
                    continue
                if name == b"connection" and not upgrade:
                    continue
                kept.append(line)
            if not upgrade:
                kept.append(b"Connection: close")
            kept += [b"Host: 127.0.0.1:%d" % self.upstream, b"X-Forwarded-Host: " + host,
                     b"X-Forwarded-For: " + client.encode()]
            up = socket.create_connection(("127.0.0.1", self.upstream))
            up.sendall(b"\r\n".join(kept) + b"\r\n\r\n" + rest)
            threading.Thread(target=self._pump, args=(conn, up), daemon=True).start()
            self._pump(up, conn)
        except OSError:
            pass

    @staticmethod
    def _pump(source, target):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                target.sendall(data)
        except OSError:
            pass
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        self.server.close()


def browser(folder):
    """Headless Chromium as the shared tests start it, with one name more: evil.example, which
    a rebinding site would have point at the machine, resolves to 127.0.0.1."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                     "--window-size=420,900", "--user-data-dir=" + folder,
                     "--host-resolver-rules=MAP evil.example 127.0.0.1"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def run(args, work):
    environment = private_environment(work)
    game_port = free_port(socket.SOCK_DGRAM)
    proxy_port = free_port(socket.SOCK_STREAM)
    players = players_file(work, PLAYERS)
    data = data_folder(work, game_port, PASSWORD,
                       b"[Web]\r\nTrustedProxies=127.0.0.1\r\nHosts=127.0.0.1:" +
                       str(proxy_port).encode() + b"\r\n")
    with open(os.path.join(data, "bans.txt"), "wb") as f:
        f.write(b"0 demolition crew\r\n0 Alma\r\n")

    # An operator's personal key, made before the robot runs.
    status, out, _ = make_web_key(args, data, environment, "Gabi", "--web-role", "admin")
    personal_key = key_of(out)
    check(status == 0 and personal_key, "a personal key for Gabi")

    processes = []
    proxy = None
    try:
        received = start_practice(args, environment, processes, game_port, PASSWORD,
                                  "--players", players)
        robot, console, port = start_robot(args, environment, processes, data)
        with open(os.path.join(data, "web-token")) as f:
            key = f.read().strip()
        check(console.wait_for(r">> Csatlakozás szerverhez: 127\.0\.0\.1:%d" % game_port),
              "the robot connects to the practice server")
        proxy = Proxy(proxy_port, port)
        base = "http://127.0.0.1:%d/" % proxy_port

        # A foreign name that points at the robot gets nothing, not even the login page.
        status, body = http_request(port, "GET", "/", headers={"Host": "evil.example:%d" % port})
        check(status == 421 and "Belépés".encode() not in body,
              "a foreign Host is refused with 421 (%d)" % status)

        # A stranger behind the proxy pounds wrong keys and is made to wait.
        statuses = []
        for _ in range(12):
            status, _ = http_request(proxy_port, "POST", "/login", "key=rossz",
                                     {"Content-Type": "application/x-www-form-urlencoded"})
            statuses.append(status)
        check(statuses[:4] == [401] * 4 and set(statuses[4:]) == {429},
              "the stranger's wrong keys: 401, then 429 (%s)" % statuses)

        driver = browser(os.path.join(work, "chromium"))
        processes.append(driver)
        wait = WebDriverWait(driver, 10, poll_frequency=0.05)

        # The operator, another client behind the same proxy, logs in meanwhile.
        proxy.client = "203.0.113.5"
        driver.get(base)
        driver.find_element(By.ID, "key").send_keys(key)
        driver.find_element(By.ID, "login").click()
        wait.until(lambda d: d.find_elements(By.ID, "tab-lista"))
        check(True, "the right key gets in while the stranger waits")
        check(console.wait_for(r">> Web \(203\.0\.113\.5\): belépés"),
              "the console names the operator's own address")
        wait.until(lambda d: d.find_element(By.ID, "link-state").text == "Csatlakozva")
        check(True, "the live feed comes through the proxy")
        # The personal key gets in through the proxy too while the stranger waits, and the
        # console names its operator beside the forwarded address.
        status, _ = http_request(proxy_port, "POST", "/login", "key=" + personal_key,
                                 {"Content-Type": "application/x-www-form-urlencoded"})
        check(status == 303, "a personal key gets in while the stranger waits (%d)" % status)
        check(console.wait_for(r">> Web \(Gabi, 203\.0\.113\.5\): belépés"),
              "the console names the operator by his key, with his forwarded address")
        wrong = re.findall(r">> Web \(198\.51\.100\.66\): .*hibás hozzáférési kulcs", console.text())
        check(len(wrong) == 1, "the stranger's wrong keys are one console line so far (%d)"
              % len(wrong))

        # A foreign name in the browser itself (the page a rebinding site would load).
        driver.get("http://evil.example:%d/" % proxy_port)
        check("Belépés" not in driver.page_source and "nem válaszol" in driver.page_source,
              "the browser under a foreign name gets only the refusal")
        driver.get(base)
        wait.until(lambda d: d.find_element(By.ID, "link-state").text == "Csatlakozva")

        # A ban entry holding the password's text is shown as it is and removed.
        driver.find_element(By.ID, "tab-banlista").click()
        wait.until(lambda d: "0 demolition crew" in d.find_element(By.ID, "banlistbox").text)
        check("****" not in driver.find_element(By.ID, "banlistbox").text,
              "the entry is shown as it is")
        driver.find_element(By.CSS_SELECTOR,
                            "button[aria-label='Törlés: 0 demolition crew']").click()
        check(console.wait_for(r">> Web \(203\.0\.113\.5\): Banlista -: 0 demolition crew"),
              "the entry is removed, on the record as it was")
        wait.until(lambda d: "demolition" not in d.find_element(By.ID, "banlistbox").text)
        check("0 Alma" in driver.find_element(By.ID, "banlistbox").text, "the other entry stays")

        # A chat line with the password's text is shown as it is; a command setting the
        # password shows the fixed mark.
        driver.find_element(By.ID, "tab-konzol").click()
        driver.find_element(By.ID, "Edit6").send_keys("this is a demo")
        driver.find_element(By.ID, "Say").click()
        wait.until(lambda d: "Mondd: this is a demo" in d.find_element(By.ID, "console").text)
        check(True, "the chat line shows as it was typed")
        driver.find_element(By.ID, "Edit4").send_keys("rcon_password hosszabb-jelszo")
        driver.find_element(By.ID, "Send").click()
        wait.until(lambda d: "Parancs küldés: \"rcon_password ********\""
                   in d.find_element(By.ID, "console").text)
        check("hosszabb-jelszo" not in driver.find_element(By.ID, "console").text,
              "the new password shows as the fixed mark")
        check(received.wait_for(r"rcon_password hosszabb-jelszo$"), "the server got it whole")

    finally:
        if proxy:
            proxy.close()
        stop_all(processes)


if __name__ == "__main__":
    sys.exit(main(run, "vigilor-browser-guard-"))

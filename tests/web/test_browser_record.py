#!/usr/bin/python3
"""Operators by name and the record of acts in a real browser: headless Chromium against the
built program on the practice server, in a folder and an environment of their own.

Covers: personal keys made by `vigilor --web-user` (printed once, only a hash kept, the owner's
alone), one made and one revoked while the robot runs; the console naming the operator; a kick
and a ban with a reason; a viewer ("figyelő") whose acts are refused with 403 and whose page
disables the act controls; "Napló" newest first, filtered by player and by operator; the record
surviving a restart of the robot.
"""

import json
import os
import re
import signal
import socket
import stat
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from browserlib import (browser, check, data_folder, free_port, http_request, key_of, main,
                        make_web_key, players_file, private_environment, start_practice,
                        start_robot, stop_all)

PASSWORD = "naploteszt"
PLAYERS = "3;12;48;Kovacs;10.0.0.3:28960;25000\n5;4;60;Nagy;10.0.0.5:28960;25000\n"


def login(driver, wait, base, key):
    driver.get(base)
    driver.delete_all_cookies()
    driver.get(base)
    wait.until(lambda d: d.find_elements(By.ID, "key"))
    driver.find_element(By.ID, "key").send_keys(key)
    driver.find_element(By.ID, "login").click()
    wait.until(lambda d: d.find_elements(By.ID, "tab-naplo"))
    wait.until(lambda d: d.execute_script("return token;"))


def post(driver, path, body):
    """An act through the page's own fetch, with its token: the answer's status and body."""
    return driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        fetch(arguments[0], {method: "POST", credentials: "same-origin",
                             headers: {"Content-Type": "application/json",
                                       "X-Vigilor-Token": token},
                             body: JSON.stringify(arguments[1])})
          .then(async (r) => done([r.status, await r.text()]));
    """, path, body)


def record_rows(driver):
    # Read at once: the table is rebuilt as the filter changes.
    return driver.execute_script("""
        return Array.from(document.querySelectorAll("#record-table tbody tr"),
                          (tr) => Array.from(tr.cells, (td) => td.textContent));""")


def run(args, work):
    environment = private_environment(work)
    game_port = free_port(socket.SOCK_DGRAM)
    players = players_file(work, PLAYERS)
    data = data_folder(work, game_port, PASSWORD)

    # Personal keys, made before the robot runs.
    status, out, _ = make_web_key(args, data, environment, "Teri", "--web-role", "admin")
    admin_key = key_of(out)
    check(status == 0 and admin_key, "--web-user Teri --web-role admin prints a key")
    status, out, _ = make_web_key(args, data, environment, "Vili")
    viewer_key = key_of(out)
    check(status == 0 and viewer_key and "figyelő" in out, "without --web-role the key is a viewer's")
    users = os.path.join(data, "web-users")
    check(stat.S_IMODE(os.stat(users).st_mode) == 0o600, "web-users is the owner's alone")
    stored = open(users, "rb").read()
    check(admin_key.encode() not in stored and viewer_key.encode() not in stored,
          "web-users keeps no key, only hashes")
    status, _, err = make_web_key(args, data, environment, "Rossz", "--web-role", "főnök")
    check(status == 2 and "--web-role" in err, "an unknown role is refused")
    status, _, _ = make_web_key(args, data, environment, "a,b")
    check(status == 2, "a name that would blur the console line is refused")

    processes = []
    try:
        received = start_practice(args, environment, processes, game_port, PASSWORD,
                                  "--players", players)
        robot, console, port = start_robot(args, environment, processes, data)
        base = "http://127.0.0.1:%d/" % port
        check(console.wait_for(r">> Csatlakozás szerverhez: 127\.0\.0\.1:%d" % game_port),
              "the robot connects to the practice server")

        driver = browser(os.path.join(work, "chromium"))
        processes.append(driver)
        wait = WebDriverWait(driver, 10, poll_frequency=0.05)

        # The admin logs in by his name's key; the console names him.
        login(driver, wait, base, admin_key)
        check(console.wait_for(r">> Web \(Teri, 127\.0\.0\.1\): belépés$"),
              "the console names the operator at the login")
        # A command from the page brings the players to the table.
        check(post(driver, "/api/command", {"command": "status"})[0] == 200, "the admin may act")
        wait.until(lambda d: "Kovacs" in d.find_element(By.ID, "Table").text)

        # A kick with a reason, and a ban by name with one.
        status, body = post(driver, "/api/roster", {"item": "KickItem", "slot": "3",
                                                    "name": "Kovacs", "address": "10.0.0.3",
                                                    "reason": "csalás"})
        check(status == 200, "the kick with a reason is done: %s" % body)
        check(received.wait_for(r"^127\.0\.0\.1:\d+ clientkick 3$"),
              "the practice server receives clientkick 3")
        check(console.wait_for(r">> Web \(Teri, 127\.0\.0\.1\): Kirúgás – 3\. slot: Kovacs "
                               r"\(10\.0\.0\.3\), indok: csalás$"),
              "the console line names the operator and the reason")
        status, body = post(driver, "/api/roster", {"item": "BanNameItem", "slot": "5",
                                                    "name": "Nagy", "address": "10.0.0.5",
                                                    "reason": "sértegetés"})
        check(status == 200, "the ban with a reason is done: %s" % body)
        status, _ = post(driver, "/api/roster", {"item": "KickItem", "slot": "5", "name": "Nagy",
                                                 "address": "10.0.0.5", "reason": "két\nsor"})
        check(status == 400, "a reason of two lines is refused")
        status, _ = post(driver, "/api/roster", {"item": "KickItem", "slot": "5", "name": "Nagy",
                                                 "address": "10.0.0.5", "reason": 7})
        check(status == 400, "a reason that is no text is refused")

        # "Napló": newest first, by player and by operator.
        driver.find_element(By.ID, "tab-naplo").click()
        # The ban check may by now have punished Nagy under its own name: Teri's acts are read.
        def teri_rows(d):
            return [r for r in record_rows(d) if r[1].startswith("Teri")]
        wait.until(lambda d: len(teri_rows(d)) >= 2)
        rows = teri_rows(driver)
        check(rows[0][1] == "Teri (127.0.0.1)" and rows[0][2] == "Kitiltás (név alapján)" and
              rows[0][3] == "5. Nagy (10.0.0.5)" and rows[0][4] == "sértegetés",
              "the ban is the newest act, with who, whom and why: %s" % rows[0])
        check(rows[1][2] == "Kirúgás" and rows[1][4] == "csalás", "the kick comes after it")
        driver.find_element(By.ID, "record-player").send_keys("kovacs")
        wait.until(lambda d: len(record_rows(d)) == 1)
        check(record_rows(driver)[0][2] == "Kirúgás", "the player filter finds the kick alone")
        driver.find_element(By.ID, "record-player").clear()
        driver.find_element(By.ID, "record-by").send_keys("senki")
        wait.until(lambda d: len(record_rows(d)) == 0)
        check(True, "the operator filter leaves out others' acts")

        # A viewer: his page disables the act controls, the robot refuses his acts.
        driver.find_element(By.ID, "logout").click()
        wait.until(lambda d: d.find_elements(By.ID, "key"))
        login(driver, wait, base, viewer_key)
        check(console.wait_for(r">> Web \(Vili, 127\.0\.0\.1\): belépés \(figyelő\)$"),
              "the viewer's login is said with his role")
        wait.until(lambda d: d.find_elements(By.ID, "viewer-note"))
        wait.until(lambda d: "Kovacs" in d.find_element(By.ID, "Table").text or
                   "Nagy" in d.find_element(By.ID, "Table").text)
        for control in ("Edit4", "Send", "Say", "Edit5", "Button3"):
            check(not driver.find_element(By.ID, control).is_enabled(),
                  "the viewer's %s is disabled" % control)
        check(driver.find_element(By.ID, "record-player").is_enabled(),
              "the viewer may still filter \"Napló\"")
        # The robot goes on polling and punishing of itself (Nagy is banned by now), so the
        # viewer's acts are told apart by what they would send.
        commands = received.text().count("\n")
        for path, body in (("/api/say", {"text": "nem szabad"}),
                           ("/api/command", {"command": "kick Senki"}),
                           ("/api/bans/add", {"text": "Valaki", "grade": 0}),
                           ("/api/roster", {"item": "KickItem", "slot": "3", "name": "Kovacs",
                                            "address": "10.0.0.3"})):
            status, answer = post(driver, path, body)
            check(status == 403 and "Figyelőként nem cselekedhetsz" in json.loads(answer)["error"],
                  "the viewer's %s is refused with 403" % path)
        check(console.wait_for(r">> Web \(Vili, 127\.0\.0\.1\): figyelő, a művelet elmarad: "
                               r"/api/say$"), "the refusal is on the console")
        time.sleep(0.7)
        extra = [line for line in received.text().split("\n")[commands + 1:]
                 if re.search(r"nem szabad|kick Senki|clientkick 3$", line)]
        check(not extra, "nothing of the viewer reached the server: %r" % extra)
        status, state = http_request(port, "GET", "/api/state",
                                     headers={"Cookie": "vigilor_session=" +
                                              driver.get_cookie("vigilor_session")["value"]})
        check(status == 200 and json.loads(state)["operator"] == {"name": "Vili", "role": "figyelő"},
              "the state names the viewer and his role")

        # Keys made and revoked while the robot runs count at once; the page's act controls stay
        # for the admin.
        status, out, _ = make_web_key(args, data, environment, "Vili", "--remove")
        check(status == 0, "--web-user Vili --remove runs beside the robot")
        status, _ = post(driver, "/api/say", {"text": "x"})
        check(status == 401, "the revoked viewer's session ends at once: %d" % status)
        status, out, _ = make_web_key(args, data, environment, "Uj", "--web-role", "admin")
        late_key = key_of(out)
        status, _ = http_request(port, "POST", "/login", "key=" + late_key,
                                 {"Content-Type": "application/x-www-form-urlencoded"})
        check(status == 303, "a key made while the robot runs lets in without a restart")
        status, _ = http_request(port, "POST", "/login", "key=" + viewer_key,
                                 {"Content-Type": "application/x-www-form-urlencoded"})
        check(status == 401, "the revoked key lets no one in")

        # The record survives a restart of the robot.
        robot.send_signal(signal.SIGTERM)
        robot.wait(15)
        check(os.path.exists(os.path.join(data, "acts.log")), "the record is a file of the data folder")
        raw = open(os.path.join(data, "acts.log"), "rb").read()
        check(raw.endswith(b"\r\n") and "csalás".encode("cp1250") in raw,
              "the record's lines are code page 1250 with CR LF")
        robot, console, port = start_robot(args, environment, processes, data)
        base = "http://127.0.0.1:%d/" % port
        login(driver, wait, base, admin_key)
        driver.find_element(By.ID, "tab-naplo").click()
        driver.find_element(By.ID, "record-by").send_keys("Teri")
        # The filter applies a moment after the typing: until then the tab shows every act.
        wait.until(lambda d: all(r[1].startswith("Teri") for r in record_rows(d)) and
                   any(r[2] == "Kirúgás" and r[4] == "csalás" for r in record_rows(d)))
        check(True, "after the restart \"Napló\" shows the kick and its reason under Teri, "
                    "and only Teri's acts")
        check(admin_key not in console.text(), "the console never held a key")
    finally:
        stop_all(processes)


if __name__ == "__main__":
    sys.exit(main(run, "vigilor-record-"))

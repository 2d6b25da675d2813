#!/usr/bin/python3
"""The web page in a real browser: headless Chromium driven through chromium-driver against the
built program, which watches the practice server. The program and the practice server run in a
folder and an environment of their own; only 127.0.0.1 is reached.

Covers: the login with the key (and a wrong key refused), a player in "Lista" and "Kirúgás"
reaching the practice server as clientkick with his slot, a ban from "Banlista" in bans.txt, a
console line arriving live, no page and no live feed without the session or the anti-forgery
token, and bad requests answered 4xx with nothing changed.
"""

import json
import os
import re
import socket
import stat
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from browserlib import (browser, check, data_folder, free_port, http_request, main, players_file,
                        private_environment, start_practice, start_robot, stop_all, upgrade_status)

PASSWORD = "webteszt"
PLAYERS = "3;12;48;Kovacs;10.0.0.3:28960;25000\n5;4;60;Nagy;10.0.0.5:28960;25000\n"


def run(args, work):
    environment = private_environment(work)

    game_port = free_port(socket.SOCK_DGRAM)
    players = players_file(work, PLAYERS)
    data = data_folder(work, game_port, PASSWORD)

    processes = []
    try:
        received = start_practice(args, environment, processes, game_port, PASSWORD,
                                  "--players", players)
        robot, console, port = start_robot(args, environment, processes, data)
        base = "http://127.0.0.1:%d/" % port
        key_file = os.path.join(data, "web-token")
        check(console.wait_for(r"hozzáférési kulcs készült \(csak a tulajdonos olvashatja\): " +
                               re.escape(key_file)), "the console says where the key is")
        check(stat.S_IMODE(os.stat(key_file).st_mode) == 0o600, "the key is the owner's alone")
        with open(key_file) as f:
            key = f.read().strip()
        check(len(key) >= 32, "the key has at least 128 bits")
        check(console.wait_for(r">> Csatlakozás szerverhez: 127\.0\.0\.1:%d" % game_port),
              "the robot connects to the practice server")

        driver = browser(os.path.join(work, "chromium"))
        processes.append(driver)
        wait = WebDriverWait(driver, 10, poll_frequency=0.05)

        # The login.
        driver.get(base)
        label = driver.find_element(By.CSS_SELECTOR, "label[for=key]")
        check(label.text == "Hozzáférési kulcs:", "the login page asks for the key")
        button = driver.find_element(By.ID, "login")
        check(button.text == "Belépés", "the login button is \"Belépés\"")
        driver.find_element(By.ID, "key").send_keys("nem-ez-a-kulcs")
        button.click()
        wait.until(lambda d: "Hibás hozzáférési kulcs." in d.page_source)
        check(driver.get_cookie("vigilor_session") is None, "a wrong key makes no session")
        check(console.wait_for(r">> Web \(127\.0\.0\.1\): hibás hozzáférési kulcs"),
              "a wrong key is on the record")
        driver.find_element(By.ID, "key").send_keys(key)
        driver.find_element(By.ID, "login").click()
        wait.until(lambda d: d.find_elements(By.ID, "tab-lista"))
        check(key not in driver.page_source, "the page never holds the key")
        wait.until(lambda d: d.find_element(By.ID, "link-state").text == "Csatlakozva")
        check(True, "the page shows \"Csatlakozva\"")
        cookie = "vigilor_session=" + driver.get_cookie("vigilor_session")["value"]
        check(driver.get_cookie("vigilor_session")["httpOnly"], "the session cookie is HttpOnly")

        # "Konzol": a command from the box; the answer brings the players to "Lista".
        driver.find_element(By.ID, "tab-konzol").click()
        driver.find_element(By.ID, "Edit4").send_keys("status")
        driver.find_element(By.ID, "Send").click()
        check(received.wait_for(r"^127\.0\.0\.1:\d+ status$"), "\"Küldés\" sends the command")
        wait.until(lambda d: "Parancs küldés: \"status\"" in d.find_element(By.ID, "console").text)
        check(True, "the command's echo shows on the page's console")
        driver.find_element(By.ID, "tab-lista").click()
        wait.until(lambda d: "Kovacs" in d.find_element(By.ID, "Table").text)
        check(driver.find_element(By.ID, "player-count").text == "2", "the page counts 2 players")
        headers = [th.get_attribute("textContent") for th in
                   driver.find_elements(By.CSS_SELECTOR, "#Table th")]
        check(headers == ["Slot", "Pont", "Ping", "Név", "IP", "Rate"], "the table's columns")

        # "Kirúgás" on Kovacs, slot 3.
        row = driver.find_element(By.XPATH, "//table[@id='Table']//tr[td[4]='Kovacs']")
        check(row.find_elements(By.TAG_NAME, "td")[0].text == "3", "Kovacs is in slot 3")
        row.click()
        menu = driver.find_element(By.ID, "ListMenu")
        wait.until(lambda d: menu.is_displayed())
        items = [b.text for b in menu.find_elements(By.TAG_NAME, "button")]
        for caption in ("Kirúgás", "Kitiltás (név alapján)", "Kitiltás (IP alapján)",
                        "Kill (min AWE 2.1x)", "Felrobbant (min AWE 2.1x)",
                        "Csapat váltás (min AWE 2.1x)", "Nézelődő (min AWE 2.1x)"):
            check(caption in items, "the menu offers \"%s\"" % caption)
        menu.find_element(By.XPATH, ".//button[text()='Kirúgás']").click()
        confirm = driver.find_element(By.ID, "confirm")
        wait.until(lambda d: confirm.is_displayed())
        confirm.find_element(By.XPATH, ".//button[text()='Kirúgás']").click()
        check(received.wait_for(r"^127\.0\.0\.1:\d+ clientkick 3$"),
              "the practice server receives clientkick 3")
        driver.find_element(By.ID, "tab-konzol").click()
        wait.until(lambda d: "Web (127.0.0.1): Kirúgás – 3. slot: Kovacs (10.0.0.3)"
                   in d.find_element(By.ID, "console").text)
        check(True, "the kick is on the page's console with the address it came from")

        # "Banlista": a new entry with a grade, saved to bans.txt.
        driver.find_element(By.ID, "tab-banlista").click()
        driver.find_element(By.ID, "Edit5").send_keys("Rossz")
        Select(driver.find_element(By.ID, "ComboBox1")).select_by_index(2)
        driver.find_element(By.ID, "Button3").click()
        wait.until(lambda d: "2 Rossz" in d.find_element(By.ID, "banlistbox").text)
        check(True, "the new entry shows in the list with its grade")
        check(console.wait_for(r">> Web \(127\.0\.0\.1\): Banlista \+: 2 Rossz"),
              "the ban is on the record")
        bans = os.path.join(data, "bans.txt")
        saved = False
        end = time.monotonic() + 15
        while time.monotonic() < end and not saved:
            # The settings are saved after every answer of the server, as ever.
            http_request(port, "POST", "/api/command", json.dumps({"command": "serverinfo"}),
                         {"Cookie": cookie, "Content-Type": "application/json",
                          "X-Vigilor-Token": driver.execute_script("return token;")})
            time.sleep(0.5)
            saved = os.path.exists(bans) and b"2 Rossz\r\n" in open(bans, "rb").read()
        check(saved, "the ban is in bans.txt")

        # A console line arrives live, within a second.
        driver.find_element(By.ID, "tab-konzol").click()
        driver.find_element(By.ID, "Edit6").send_keys("szia mindenki")
        started = time.monotonic()
        driver.find_element(By.ID, "Say").click()
        wait.until(lambda d: "Web (127.0.0.1): Mondd: szia mindenki"
                   in d.find_element(By.ID, "console").text)
        took = time.monotonic() - started
        check(took < 1.0, "the console line arrives live (%.0f ms)" % (took * 1000))
        check(received.wait_for(r"say \^1vigilor\^2> \^7szia mindenki"), "\"Mondd\" says it")

        # Without the session, or without the token, nothing answers.
        token = driver.execute_script("return token;")
        for path in ("/api/state", "/api/console", "/app.js", "/app.css"):
            status, _ = http_request(port, "GET", path)
            check(status == 401, "GET %s without the session: %d" % (path, status))
        status, body = http_request(port, "GET", "/")
        check(status == 200 and "Belépés".encode() in body and b"Kovacs" not in body,
              "without the session only the login page")
        for given in (None, "bad", token[:-1]):
            headers = {"Cookie": cookie, "Content-Type": "application/json"}
            if given:
                headers["X-Vigilor-Token"] = given
            status, _ = http_request(port, "POST", "/api/say", json.dumps({"text": "x"}), headers)
            check(status == 403, "an act without the token: %d" % status)
        for path, with_cookie in (("/live?token=" + token, None), ("/live", cookie),
                                  ("/live?token=bad", cookie)):
            status = upgrade_status(port, path, with_cookie)
            check(status in (401, 403), "no live feed without the session and token: %d" % status)
        check(upgrade_status(port, "/live?token=" + token, cookie) == 101,
              "the live feed opens with both")

        # Bad requests get a 4xx answer and change nothing.
        status, state = http_request(port, "GET", "/api/state", headers={"Cookie": cookie})
        before = json.loads(state)
        lines_before = json.loads(http_request(port, "GET", "/api/console",
                                               headers={"Cookie": cookie})[1])["size"]
        commands_before = received.text().count("\n")
        auth = {"Cookie": cookie, "X-Vigilor-Token": token, "Content-Type": "application/json"}
        for method, path, body, headers, expected in (
                ("POST", "/api/bans/add", '{"text":"Rossz2","grade":', auth, 400),
                ("POST", "/api/bans/add", '{"text":"Rossz2","grade":9}', auth, 400),
                ("POST", "/api/roster", '{"item":"KickItem","slot":"5;quit","name":"Nagy",'
                                        '"address":""}', auth, 400),
                ("POST", "/api/nincs", "{}", auth, 404),
                ("GET", "/api/command", None, auth, 405),
                ("DELETE", "/api/bans/add", None, auth, 405),
                ("POST", "/api/bans/add", "text=Rossz2&grade=0",
                 dict(auth, **{"Content-Type": "application/x-www-form-urlencoded"}), 415),
                ("POST", "/api/bans/add", b"x" * (10 * 1024 * 1024), auth, 413)):
            status, _ = http_request(port, method, path, body, headers)
            check(status == expected, "%s %s: %d" % (method, path, status))
        time.sleep(0.5)
        status, state = http_request(port, "GET", "/api/state", headers={"Cookie": cookie})
        check(json.loads(state)["bans"] == before["bans"], "the bad requests changed no ban")
        lines_after = json.loads(http_request(port, "GET", "/api/console",
                                              headers={"Cookie": cookie})[1])["size"]
        check(lines_after == lines_before, "the bad requests left no console line")
        check(received.text().count("\n") == commands_before,
              "the bad requests sent nothing to the server")

        # Logging out ends the session.
        driver.find_element(By.ID, "logout").click()
        wait.until(lambda d: d.find_elements(By.ID, "key"))
        status, _ = http_request(port, "GET", "/api/state", headers={"Cookie": cookie})
        check(status == 401, "after \"Kilépés\" the session is over")
        check(key not in console.text(), "the console never held the key")
    finally:
        stop_all(processes)


if __name__ == "__main__":
    sys.exit(main(run, "vigilor-browser-"))

#!/usr/bin/python3
"""The web page as an operator's panel, in headless Chromium against the built program on the
practice server (demo players whose scores move): the header with the server's name in its
colours, the map, the game type and the size, kept true across a change of map, and the next
scheduled task; colour codes drawn and shown raw; the player table sorted by a column, filtered
as one types, and updated in place so that a focused row keeps its focus; "Kirúgás" asking first
and sending its reason; the ban list filtered, sorted and paged past 200 entries; nothing wider
than the page at 390 px and at a desktop width; the dark look under prefers-color-scheme: dark,
with table text not bold.
"""
import os
import re
import socket
import sys

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from browserlib import (browser, check, data_folder, free_port, main, private_environment,
                        start_practice, start_robot, stop_all)

PASSWORD = "panelteszt"
HOSTNAME = "^2Gyakorló ^7Szerver"


def overflow(driver):
    return driver.execute_script(
        "return document.documentElement.scrollWidth - document.documentElement.clientWidth;")


def task_record(date, time_of_day, kind, option):
    """One record of a task file: four fields, each a length byte and its room in code page 1250
    (17, 8, 25 and 255 bytes)."""
    record = b""
    for text, room in ((date, 17), (time_of_day, 8), (kind, 25), (option, 255)):
        raw = text.encode("cp1250")
        record += bytes([len(raw)]) + raw.ljust(room, b"\0")
    return record


def luminance(driver, script):
    rgb = driver.execute_script(script)
    values = [int(v) for v in re.findall(r"\d+", rgb)[:3]]
    return sum(values) / (3 * 255.0)


def run(args, work):
    environment = private_environment(work)
    game_port = free_port(socket.SOCK_DGRAM)
    # The scheduler on, with one task far ahead that carries the rcon password.
    data = data_folder(work, game_port, PASSWORD, b"[Service]\r\nScheduler=1\r\n")
    with open(os.path.join(data, "Scheduling.ini"), "wb") as f:
        f.write(task_record("2099.01.01.", "12:00:00", "Parancs végrehajtás",
                            "rcon_password " + PASSWORD))
    processes = []
    try:
        received = start_practice(args, environment, processes, game_port, PASSWORD, "--demo",
                                  "--map", "mp_toujane", "--gametype", "sd", "--maxclients",
                                  "24", "--hostname", HOSTNAME)
        robot, console, port = start_robot(args, environment, processes, data)
        base = "http://127.0.0.1:%d/" % port
        with open(os.path.join(data, "web-token")) as f:
            key = f.read().strip()
        check(received.wait_for(r"^127\.0\.0\.1:\d+ serverinfo$"),
              "the robot asks for serverinfo after the connect")

        driver = browser(os.path.join(work, "chromium"))
        processes.append(driver)
        wait = WebDriverWait(driver, 10, poll_frequency=0.05)
        driver.set_window_size(1280, 900)
        driver.get(base)
        driver.find_element(By.ID, "key").send_keys(key)
        driver.find_element(By.ID, "login").click()
        wait.until(lambda d: d.find_elements(By.ID, "server-name"))
        # Every act the page sends, as it sent it.
        driver.execute_script("""
            window.sentActs = [];
            const fetchOriginal = window.fetch;
            window.fetch = (path, options) => {
              if (options && options.body) window.sentActs.push([path, JSON.parse(options.body)]);
              return fetchOriginal(path, options);
            };""")

        # The server at a glance.
        wait.until(lambda d: d.find_element(By.ID, "server-name").text == "Gyakorló Szerver")
        green = driver.find_elements(By.CSS_SELECTOR, "#server-name span.c2")
        check(green and green[0].text == "Gyakorló", "the server's name is drawn in its colours")
        check(driver.find_element(By.ID, "server-map").text == "mp_toujane", "the header names the map")
        check(driver.find_element(By.ID, "server-gametype").text == "sd", "... the game type")
        check(driver.find_element(By.ID, "player-max").text == "24", "... the most players")
        wait.until(lambda d: d.find_element(By.ID, "link-state").text == "Csatlakozva")
        check(re.match(r"^\(\d{4}\.\d\d\.\d\d\. \d+:\d\d:\d\d óta\)$",
                       driver.find_element(By.ID, "link-since").text),
              "... and since when the link is up")
        check(driver.find_element(By.ID, "next-task").text ==
              "2099.01.01. 12:00:00 – Parancs végrehajtás: rcon_password ********",
              "... and the next scheduled task, its password kept out")
        driver.find_element(By.CSS_SELECTOR, "label[for=raw-colours]").click()
        check(driver.find_element(By.ID, "server-name").text == HOSTNAME,
              "\"Színkódok nyersen\" shows the codes as they are")
        driver.find_element(By.CSS_SELECTOR, "label[for=raw-colours]").click()
        check(driver.find_element(By.ID, "server-name").text == "Gyakorló Szerver",
              "... and switched off draws them again")

        # A change of map: the next status reply brings it, and one serverinfo the new game type.
        driver.find_element(By.ID, "tab-konzol").click()
        for command in ("set g_gametype dm", "map mp_carentan", "status"):
            driver.find_element(By.ID, "Edit4").send_keys(command)
            driver.find_element(By.ID, "Send").click()
            # The command box's commands go to the head of the queue: one at a time.
            check(received.wait_for(r"^127\.0\.0\.1:\d+ %s$" % re.escape(command)),
                  "the server receives \"%s\"" % command)
        wait.until(lambda d: d.find_element(By.ID, "server-map").text == "mp_carentan")
        wait.until(lambda d: d.find_element(By.ID, "server-gametype").text == "dm")
        asked = len(re.findall(r" serverinfo$", received.text(), re.M))
        check(asked == 2, "the header follows the new map with one serverinfo (%d asked)" % asked)

        # The player table: sorted by a column, filtered as one types.
        driver.find_element(By.ID, "tab-lista").click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#Table tbody tr")) == 5)

        def column(index):
            return [r.find_elements(By.TAG_NAME, "td")[index].text
                    for r in driver.find_elements(By.CSS_SELECTOR, "#Table tbody tr")
                    if r.is_displayed()]
        driver.find_element(By.XPATH, "//th/button[text()='Név']").click()
        names = column(3)
        check(names == sorted(names, key=str.lower), "\"Név\" sorts by name: %s" % names)
        driver.find_element(By.XPATH, "//th/button[text()='Ping']").click()
        driver.find_element(By.XPATH, "//th/button[text()='Ping']").click()
        pings = [int(p) for p in column(2)]
        check(pings == sorted(pings, reverse=True), "a second click sorts downwards: %s" % pings)
        check(driver.find_element(By.XPATH, "//th[button[text()='Ping']]")
              .get_attribute("aria-sort") == "descending", "the header says how it sorts")
        box = driver.find_element(By.ID, "player-filter")
        box.send_keys("luc")
        check(column(3) == ["Lucie"], "typing part of a name leaves that player")
        box.clear()
        box.send_keys("198.51.100.22")
        check(column(3) == ["Jiří"], "typing an address finds its player")
        box.clear()
        driver.execute_script("document.getElementById('player-filter')"
                              ".dispatchEvent(new Event('input'));")
        check(len(column(3)) == 5, "an empty search shows everyone")

        # Names and console lines are drawn in the colours the server sent them with.
        cell = driver.find_element(By.XPATH, "//table[@id='Table']//td[.='Pavel']")
        red = cell.find_elements(By.CSS_SELECTOR, "span.c1")
        check(red and red[0].text == "Pav", "a player's name is drawn in its colours")
        driver.find_element(By.ID, "tab-konzol").click()
        wait.until(lambda d: any(s.text == "Lucie" for s in
                                 d.find_elements(By.CSS_SELECTOR, "#console span.c3")))
        driver.find_element(By.ID, "tab-lista").click()

        # A focused row keeps its focus while the table is refreshed.
        row = driver.find_element(By.XPATH, "//table[@id='Table']//tr[td[4]='Marek']")
        driver.execute_script("arguments[0].focus(); window.focusedRow = arguments[0];", row)
        score = row.find_elements(By.TAG_NAME, "td")[1].text
        for _ in range(4):
            driver.execute_script("post('/api/command', {command: 'status'});")
            try:
                WebDriverWait(driver, 6, poll_frequency=0.1).until(
                    lambda d: row.find_elements(By.TAG_NAME, "td")[1].text != score)
                break
            except Exception:
                pass
        check(row.find_elements(By.TAG_NAME, "td")[1].text != score,
              "the roster was refreshed with a new score")
        check(driver.execute_script("return document.activeElement === window.focusedRow;"),
              "the focused row keeps its focus across the refresh")

        # "Kirúgás" asks first; "Mégse" sends nothing; the act's own button sends the reason.
        row.click()
        menu = driver.find_element(By.ID, "ListMenu")
        wait.until(lambda d: menu.is_displayed())
        slot = row.find_elements(By.TAG_NAME, "td")[0].text
        menu.find_element(By.XPATH, ".//button[text()='Kirúgás']").click()
        dialog = driver.find_element(By.ID, "confirm")
        wait.until(lambda d: dialog.is_displayed())
        check("Marek" in dialog.text, "the confirmation names the player")
        reason = driver.find_element(By.CSS_SELECTOR, "label[for=act-reason]")
        check(reason.text == "Indok (nem kötelező):", "the reason field has its label")
        dialog.find_element(By.XPATH, ".//button[text()='Mégse']").click()
        check(not dialog.is_displayed(), "\"Mégse\" closes the confirmation")
        check(not re.search(r" clientkick %s$" % slot, received.text(), re.M),
              "... and he is not kicked")
        row.click()
        menu.find_element(By.XPATH, ".//button[text()='Kirúgás']").click()
        wait.until(lambda d: dialog.is_displayed())
        driver.find_element(By.ID, "act-reason").send_keys("csalás")
        dialog.find_element(By.XPATH, ".//button[text()='Kirúgás']").click()
        check(received.wait_for(r"^127\.0\.0\.1:\d+ clientkick %s$" % slot),
              "the confirmed kick reaches the server")
        acts = driver.execute_script("return window.sentActs.filter(a => a[0] === '/api/roster');")
        check(acts and acts[-1][1].get("reason") == "csalás" and acts[-1][1]["item"] == "KickItem",
              "the kick carries its reason: %s" % acts)

        # The ban list: filtered, sorted and paged past 200 entries.
        driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            (async () => {
              for (let i = 0; i < 205; ++i)
                await post('/api/bans/add', {text: 'tomeg' + String(i).padStart(3, '0'),
                                             grade: i % 3});
              await post('/api/bans/add', {text: '^1Piros', grade: 1});
              done();
            })();""")
        driver.find_element(By.ID, "tab-banlista").click()
        wait.until(lambda d: "206 bejegyzés" in d.find_element(By.ID, "ban-page").text)
        entries = driver.find_elements(By.CSS_SELECTOR, "#banlistbox li")
        check(len(entries) == 200, "a page holds 200 entries")
        check(driver.find_element(By.ID, "ban-page").text.startswith("1/2. oldal"), "two pages")
        driver.find_element(By.ID, "ban-next").click()
        check(len(driver.find_elements(By.CSS_SELECTOR, "#banlistbox li")) == 6,
              "the second page holds the rest")
        driver.find_element(By.ID, "ban-filter").send_keys("piros")
        red = driver.find_elements(By.CSS_SELECTOR, "#banlistbox span.c1")
        check(red and red[0].text == "Piros", "a ban entry's colour codes are drawn, as text")
        driver.find_element(By.ID, "ban-filter").clear()
        driver.find_element(By.ID, "ban-filter").send_keys("tomeg20")
        texts = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#banlistbox .entry")]
        check(len(texts) == 5 and all("tomeg20" in t for t in texts),
              "the search filters the ban list as one types: %s" % texts)
        check(not driver.find_element(By.ID, "ban-next").is_displayed(), "one page, no pager")
        driver.find_element(By.XPATH, "//select[@id='ban-sort']/option[@value='grade']").click()
        grades = [int(e.get_attribute("value")) for e in
                  driver.find_elements(By.CSS_SELECTOR, "#banlistbox select")]
        check(grades == sorted(grades), "sorted by grade: %s" % grades)
        remove = driver.find_element(By.CSS_SELECTOR, "#banlistbox li:last-child button")
        removed = remove.get_attribute("aria-label").split(": ", 1)[1]
        remove.click()
        wait.until(lambda d: removed not in d.find_element(By.ID, "banlistbox").text)
        check(True, "an entry removed from a sorted, filtered page is the one shown")
        driver.find_element(By.ID, "ban-filter").clear()
        driver.execute_script("document.getElementById('ban-filter')"
                              ".dispatchEvent(new Event('input'));")

        # A long console line, then nothing wider than the page at a desktop's and a phone's width.
        driver.find_element(By.ID, "tab-konzol").click()
        driver.find_element(By.ID, "Edit4").send_keys("echo " + "x" * 300)
        driver.find_element(By.ID, "Send").click()
        wait.until(lambda d: "x" * 300 in d.find_element(By.ID, "console").text)
        for width in (1280, 390):
            driver.set_window_size(width, 900)
            wait.until(lambda d: d.execute_script("return window.innerWidth;") <= width)
            for tab in ("tab-lista", "tab-konzol", "tab-banlista"):
                driver.find_element(By.ID, tab).click()
                check(overflow(driver) <= 0, "%s at %d px fits the page (%d px over)"
                      % (tab, width, overflow(driver)))
                driver.save_screenshot("/tmp/panel-%s-%d.png" % (tab, width))
        driver.find_element(By.ID, "tab-lista").click()
        address = driver.find_element(By.XPATH, "//table[@id='Table']//tr[td[4]='Lucie']/td[5]")
        check(not address.is_displayed(), "a phone leaves the address to a tap")
        driver.find_element(By.XPATH, "//table[@id='Table']//tr[td[4]='Lucie']").click()
        wait.until(lambda d: menu.is_displayed())
        check("198.51.100.21" in driver.find_element(By.ID, "menu-details").text,
              "the tap shows the whole row")
        driver.find_element(By.ID, "menu-cancel").click()

        # The dark look follows the system; table text is not bold.
        check(luminance(driver, "return getComputedStyle(document.body).backgroundColor;") > 0.8,
              "the light look by default")
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        check(luminance(driver, "return getComputedStyle(document.body).backgroundColor;") < 0.2,
              "a dark background under prefers-color-scheme: dark")
        check(luminance(driver, "return getComputedStyle("
                                "document.querySelector('#Table td')).color;") > 0.7,
              "... with light table text")
        weight = driver.execute_script(
            "return getComputedStyle(document.querySelector('#Table td')).fontWeight;")
        check(weight == "400", "table text is not bold (%s)" % weight)
        driver.save_screenshot("/tmp/panel-dark-390.png")
        driver.set_window_size(1280, 900)
        driver.save_screenshot("/tmp/panel-dark-1280.png")
    finally:
        stop_all(processes)


if __name__ == "__main__":
    sys.exit(main(run, "vigilor-panel-"))

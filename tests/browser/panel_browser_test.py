#!/usr/bin/python3
"""tarvik panel in a real browser: Debian's headless Chromium, driven by Selenium through
chromedriver, on examples/line_controller started by the panel. Each step is checked on the page
and, where it changes the board, on the board itself through its socket; a screenshot of each
step is kept in --out. Exit status 0 when every step held."""

import argparse
import json
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# Long enough for a loaded CI machine; a step that holds is seen at once.
LIMIT = 30


class Board:
    """The board's own socket: what the page shows is checked against what the board says."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.buffer = b""
        assert self.command("json on")["ok"]

    def command(self, line):
        self.sock.sendall(line.encode() + b"\n")
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the board closed its socket")
            self.buffer += chunk
        answer, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(answer)

    def level(self, index):
        pins = self.command("show gpio")["pins"]
        return next(p["level"] for p in pins if p["index"] == index)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--app", required=True)
    parser.add_argument("--config", default="examples/line_controller/line_controller.conf")
    parser.add_argument("--out", default="build/browser")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    env = dict(os.environ)
    for name in ("VBOARD_LISTEN", "VBOARD_CONFIG", "VBOARD_DEBUG"):
        env.pop(name, None)
    # The configuration is the application's, not the tool's own board's.
    panel = subprocess.Popen([args.tool, "panel", "--", "env", "VBOARD_CONFIG=" + args.config, args.app],
                             env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    # The application shares the panel's output: both are read to the end, so that neither ever
    # waits on a full pipe, and the panel's two lines are picked out.
    output = {"out": [], "err": []}
    for name, stream in (("out", panel.stdout), ("err", panel.stderr)):
        threading.Thread(target=lambda n=name, s=stream: [output[n].append(l) for l in s], daemon=True).start()

    def find(name, pattern):
        limit = time.monotonic() + LIMIT
        while time.monotonic() < limit and panel.poll() is None:
            for line in list(output[name]):
                found = re.search(pattern, line)
                if found:
                    return found
            time.sleep(0.05)
        sys.exit("FAIL: the panel did not print %r:\n%s%s" % (pattern, "".join(output["out"]), "".join(output["err"])))

    url = find("out", r"http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{64}").group(0)
    board = Board(find("err", r"the board at (\S+);").group(1))

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1400,1100"):
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    steps = []

    def step(name, check):
        try:
            WebDriverWait(browser, LIMIT, poll_frequency=0.1).until(lambda _: check())
            outcome = "ok"
        except Exception as e:  # a step that did not hold: the screenshot shows what the page had
            outcome = "FAIL (%s; status %r, COM1 %r)" % (type(e).__name__, text("#status"),
                                                        text("#console-COM1")[-200:])
        shot = os.path.join(args.out, "%02d-%s.png" % (len(steps) + 1, name))
        browser.save_screenshot(shot)
        steps.append((name, outcome))
        print("%-8s %s  (%s)" % (name, outcome, shot), flush=True)
        return outcome == "ok"

    css = lambda selector: browser.find_element(By.CSS_SELECTOR, selector)
    text = lambda selector: css(selector).text

    def type_serial(line):
        field = css("#port-COM1 input.serial-input")
        field.send_keys(line)
        css("#port-COM1 button[type=submit]").click()

    try:
        browser.get(url)
        # (READY came before the panel attached: the page shows what comes from now on.)
        step("page", lambda: text("#status") == "live" and "pty" in text("#port-COM1 .state")
             and text('#gpio tr[data-index="1"] td.level') == "low")

        # The button (index 2) is active low: a pulse presses and releases it; the lamp toggles.
        css('#gpio tr[data-index="2"] button[data-action="pulse"]').click()
        step("button", lambda: text('#gpio tr[data-index="1"] td.level') == "HIGH"
             and board.level(1) == 1)

        type_serial("STATUS")
        step("serial", lambda: "STATUS lamp=ON presses=1 station=1" in text("#console-COM1"))

        # The station is kept in the EEPROM: the hex view follows the write.
        type_serial("STATION 7")
        step("eeprom", lambda: "OK station=7" in text("#console-COM1")
             and "0000: 4c 43 01 07 01 98" in text("#eeprom"))

        # A fault armed from the page is listed, and cleared from there.
        css("#fault-text").send_keys("DeviceIoControl device=I2C2:")
        css("#fault-arm button").click()
        step("fault", lambda: "fault DeviceIoControl device=I2C2:" in text("#faults"))
        css("#faults button").click()
        step("cleared", lambda: text("#faults") == "none armed"
             and board.command("show faults")["faults"] == [])

        # Another node's frame, sent from the page; the application's own frames are listed too
        # (its status frame after the press: lamp on, one press, reason button).
        css("#can-frame").send_keys("123#DEADBEEF")
        css("#can-send button").click()
        step("can", lambda: "123   [4]  DE AD BE EF" in text("#can-lines")
             and "TX  181   [4]  01 00 01 01" in text("#can-lines"))

        vcd = browser.execute_async_script(
            "const done = arguments[0];"
            "fetch(document.querySelector('#vcd').href).then(r => r.text()).then(done, e => done(String(e)));")
        # The lamp (gpio0_2) rises in the saved waveform.
        lamp = re.search(r"\$var wire 1 (\S+) gpio0_2 \$end", vcd)
        changes = vcd.split("$enddefinitions $end", 1)[-1].split("$end", 1)[-1]
        steps.append(("vcd", "ok" if lamp and "\n1%s\n" % lamp.group(1) in changes
                      else "FAIL (no lamp rising in the VCD:\n%s)" % vcd[:600]))
        print("%-8s %s" % steps[-1], flush=True)

        # The whole page as it looks now, for the README (docs/panel.png).
        browser.set_window_size(1400, 1900)
        Select(css("#wave-span")).select_by_value("10000000")
        browser.execute_script("window.scrollTo(0, 0)")
        time.sleep(0.5)
        browser.save_screenshot(os.path.join(args.out, "panel.png"))
        browser.set_window_size(1400, 1100)

        # The application ends; the page says so. (Its BYE is not checked: the board's listener
        # closes its clients at exit without sending the events still queued for them, so the
        # last lines of a program that quits may not reach any watcher.)
        type_serial("QUIT")
        step("quit", lambda: text("#status") == "application ended")
    finally:
        browser.quit()
        try:
            status = panel.wait(timeout=LIMIT)
        except subprocess.TimeoutExpired:
            panel.send_signal(signal.SIGINT)
            status = panel.wait(timeout=LIMIT)
    steps.append(("exit", "ok" if status == 0 else "FAIL (the panel ended with status %d)" % status))
    print("%-8s %s" % steps[-1])
    failed = [name for name, outcome in steps if outcome != "ok"]
    if failed:
        print("".join(output["err"]), file=sys.stderr)
        sys.exit("FAIL: " + ", ".join(failed))
    print("all %d steps held" % len(steps))


if __name__ == "__main__":
    main()

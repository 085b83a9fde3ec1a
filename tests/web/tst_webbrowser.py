"""The status page in a real browser: headless Chromium driven by Selenium, against zarvik-maild
watching zarvik-sim, all on loopback.

Needs ZARVIK_SIM and ZARVIK_MAILD (ctest passes them; `cmake --build` builds both first).
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

USER = "admin"
PASSWORD = "correct horse 7"
WAIT = 30  # seconds; generous, since two cores are shared
SECTIONS = ["now", "rules", "actions", "charts", "events"]
SCRIPT = "<script>window.pwned=1</script>"


def shown(celsius):
    """The page's text for a temperature the sim is set to, as the window shows it: the board
    reads in steps of 500/1024 ℃ (a 10-bit converter), so 25.5 comes back as 25.39."""
    return "%.1f ℃" % (round(celsius * 1024 / 500) * 500 / 1024)


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, condition, timeout=WAIT):
    """Polls a condition outside the browser (the service coming up)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Sim:
    """zarvik-sim on a free UDP port, driven through its stdin."""

    def __init__(self, temp):
        self.process = subprocess.Popen(
            [os.environ["ZARVIK_SIM"], "--bind", "127.0.0.1", "--port", "0", "--temp", str(temp)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        first = self.process.stdout.readline().split()
        if len(first) != 2 or first[0] != "listening":
            raise RuntimeError("zarvik-sim did not start: %r" % first)
        self.port = int(first[1].rsplit(":", 1)[1])
        # Its answers to commands are drained so that it never blocks on a full pipe.
        self.drain = threading.Thread(target=self.process.stdout.read, daemon=True)
        self.drain.start()

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            try:
                self.send("quit")
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait()
        self.drain.join(10)
        for pipe in (self.process.stdin, self.process.stdout):
            try:
                pipe.close()
            except OSError:
                pass


class Maild:
    """zarvik-maild with its status page on a free loopback port and a password set."""

    def __init__(self, folder, sim_port, extra="", limits="UTemp=30\nCheck_U=1\n"):
        self.web_port = free_port(socket.SOCK_STREAM)
        self.origin = "http://127.0.0.1:%d" % self.web_port
        self.settings = os.path.join(folder, "ZARVIK_Mail.ini")
        with open(self.settings, "w", encoding="utf-8") as f:
            f.write("[ZARVIK]\nAddress=127.0.0.1\nPort=%d\nCycle=500\n"
                    "[Temp]\n%s"
                    "[Web]\nListen=127.0.0.1:%d\nUser=%s\n%s"
                    % (sim_port, limits, self.web_port, USER, extra))
        maild = os.environ["ZARVIK_MAILD"]
        subprocess.run([maild, "--settings", self.settings, "--web-password"],
                       input=PASSWORD + "\n", text=True, check=True, timeout=60,
                       capture_output=True)
        self.log_path = os.path.join(folder, "maild.log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [maild, "--settings", self.settings, "--state", folder],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        try:
            wait_for("the status page", self.answers)
        except BaseException:
            self.stop()
            sys.stderr.write("---- zarvik-maild log ----\n%s---- end ----\n" % self.log_text())
            raise

    def answers(self):
        if self.process.poll() is not None:
            raise AssertionError("zarvik-maild ended with %d" % self.process.returncode)
        try:
            with urllib.request.urlopen(self.origin + "/api/status", timeout=5) as reply:
                return json.load(reply).get("reading") is not None
        except (urllib.error.URLError, OSError, ValueError):
            return False

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def log_text(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()


def browser(folder):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--no-first-run", "--no-default-browser-check",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-default-apps", "--disable-extensions",
                 "--disable-client-side-phishing-detection", "--disable-domain-reliability",
                 "--metrics-recording-only", "--safebrowsing-disable-auto-update",
                 "--user-data-dir=" + os.path.join(folder, "chromium")]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    service = Service("/usr/bin/chromedriver", log_path=os.path.join(folder, "chromedriver.log"))
    return webdriver.Chrome(service=service, options=options)


class StatusPageInBrowser(unittest.TestCase):
    def start(self, mail=""):
        self.folder = tempfile.mkdtemp(prefix="tst_webbrowser-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.sim = Sim(25.5)
        self.addCleanup(self.sim.stop)
        self.maild = Maild(self.folder, self.sim.port, mail)
        self.addCleanup(self.keep_log_and_stop)
        self.driver = browser(self.folder)
        self.addCleanup(self.driver.quit)
        self.console = []
        self.requests = []

    def keep_log_and_stop(self):
        self.maild.stop()
        self.maild_log = self.maild.log_text()

    def run(self, result=None):
        result = result or self.defaultTestResult()
        before = len(result.failures) + len(result.errors)
        self.maild_log = None
        super().run(result)
        if len(result.failures) + len(result.errors) > before and self.maild_log is not None:
            sys.stderr.write("---- zarvik-maild log ----\n%s---- end ----\n" % self.maild_log)
        return result

    # Helpers

    def until(self, what, condition):
        return WebDriverWait(self.driver, WAIT, poll_frequency=0.1).until(
            lambda d: condition(), message=what)

    def text(self, id_):
        return self.driver.find_element(By.ID, id_).text

    def row_class(self, rule):
        # In one step: the script replaces the rows every 2 s.
        return self.driver.execute_script(
            "const row = document.querySelector(`tr[data-rule='${arguments[0]}']`);"
            " return row ? row.className : null;", rule)

    def open_page(self, login=False):
        if login:
            # Credentials in the address answer the 401 without a prompt or a console error;
            # Chrome keeps them for the origin and /login sends it on to the page.
            self.driver.get("http://%s:%s@127.0.0.1:%d/login"
                            % (USER, urllib.parse.quote(PASSWORD), self.maild.web_port))
        else:
            self.driver.get(self.maild.origin + "/")
        self.until("the page", lambda: self.driver.current_url == self.maild.origin + "/"
                   and self.driver.find_elements(By.ID, "event-list"))

    def boxes(self):
        return self.driver.execute_script(
            "return arguments[0].map((id) => {"
            " const r = document.getElementById(id).getBoundingClientRect();"
            " return {left: r.left, right: r.right, top: r.top, bottom: r.bottom}; });",
            SECTIONS)

    def check_browser_clean(self):
        """No console error; no request beyond the page's own origin."""
        self.console += self.driver.get_log("browser")
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            # Chrome's own pages (its new tab at start, whose parts load from chrome:// and
            # chrome-untrusted://) are not the page's doing.
            document = message["params"].get("documentURL", "")
            if (message["method"] == "Network.requestWillBeSent"
                    and not document.startswith(("chrome://", "chrome-untrusted://"))):
                self.requests.append(message["params"]["request"]["url"])
        errors = [e for e in self.console if e["level"] == "SEVERE"]
        self.assertEqual(errors, [], "console errors")
        self.assertTrue(self.requests)
        for url in self.requests:
            parts = urllib.parse.urlsplit(url)
            # The login's address holds the credentials; the origin is what counts.
            where = "%s://%s:%s/" % (parts.scheme, parts.hostname, parts.port)
            # Browser-internal schemes reach no network (a web page cannot even ask for them).
            internal = parts.scheme in ("data", "about", "chrome", "chrome-untrusted")
            self.assertTrue(where == self.maild.origin + "/" or internal,
                            "request beyond the page's origin: " + url)

    # Tests

    def test_reading_login_link_and_layout(self):
        self.start()
        self.open_page()
        self.assertEqual(self.text("board"), "127.0.0.1:%d" % self.sim.port)
        self.assertEqual(self.text("temp"), shown(25.5))
        self.sim.send("temp 27.5")
        self.until("#temp " + shown(27.5), lambda: self.text("temp") == shown(27.5))
        self.sim.send("rb1 1")
        self.until("#rb1 H", lambda: self.text("rb1") == "H")
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#chart-hour svg"))
        self.assertTrue(self.driver.find_element(By.CSS_SELECTOR, "#chart-day svg"))

        # Reading needs no login on loopback; acting does.
        self.assertEqual(self.driver.find_element(By.ID, "login").get_attribute("href"),
                         self.maild.origin + "/login")
        for button in ["btn-rearm", "btn-ack", "btn-mute", "btn-unmute", "mute-for"]:
            self.assertEqual(self.driver.find_elements(By.ID, button), [], button)

        self.driver.set_window_size(400, 900)
        self.until("a phone's width",
                   lambda: self.driver.execute_script(
                       "return document.documentElement.clientWidth") < 480)
        boxes = self.boxes()
        for box, below in zip(boxes, boxes[1:]):
            self.assertAlmostEqual(box["left"], below["left"], delta=1, msg=boxes)
            self.assertLessEqual(box["bottom"], below["top"], boxes)

        self.driver.set_window_size(1200, 900)
        self.until("a desk's width",
                   lambda: self.driver.execute_script(
                       "return document.documentElement.clientWidth") > 1000)
        now, rules, actions, charts, events = self.boxes()
        for box in (rules, actions):
            self.assertAlmostEqual(box["left"], now["left"], delta=1)
        self.assertAlmostEqual(events["left"], charts["left"], delta=1)
        self.assertGreaterEqual(charts["left"], now["right"])
        self.assertLess(charts["top"], rules["top"])  # side by side, not below
        self.check_browser_clean()

    def test_actions_after_login(self):
        self.start()
        self.open_page()
        self.until("the upper rule armed", lambda: self.row_class("upper") == "armed")
        self.sim.send("temp 35")
        self.until("the upper rule fired", lambda: self.row_class("upper") == "fired")
        self.assertTrue(self.driver.find_elements(By.CSS_SELECTOR, "#event-list li.alert"))

        self.open_page(login=True)
        self.assertEqual(self.driver.find_elements(By.ID, "login"), [])
        self.assertEqual(self.row_class("upper"), "fired")

        self.driver.find_element(By.ID, "btn-ack").click()
        self.until("acknowledged", lambda: self.row_class("upper") == "fired acknowledged")
        self.until("the ack's answer", lambda: self.text("action-result") != "")
        self.until("the ack's event",
                   lambda: self.driver.find_elements(By.CSS_SELECTOR, "#event-list li.acknowledged"))

        self.driver.find_element(By.ID, "btn-mute").click()
        self.until("#mute shown", lambda: self.text("mute") != "")
        self.until("the mute's event",
                   lambda: self.driver.find_elements(By.CSS_SELECTOR, "#event-list li.mute"))
        self.driver.find_element(By.ID, "btn-unmute").click()
        self.until("#mute cleared", lambda: self.text("mute") == "")

        self.sim.send("temp 20")
        self.until("#temp " + shown(20), lambda: self.text("temp") == shown(20))
        self.driver.find_element(By.ID, "btn-rearm").click()
        self.until("the upper rule armed again", lambda: self.row_class("upper") == "armed")
        self.until("the rearm's event",
                   lambda: self.driver.find_elements(By.CSS_SELECTOR, "#event-list li.rearm"))
        self.check_browser_clean()

    def test_event_text_stays_text(self):
        # No mail server: the address itself makes the mail fail, and its error names it.
        self.start("[Mail]\nAddress=%s\nFrom=z@example.com\nTo=ops@example.com\n" % SCRIPT)
        self.open_page()
        self.sim.send("temp 35")

        def listed():
            return [li.text for li in self.driver.find_elements(By.CSS_SELECTOR, "#event-list li")
                    if "<script>" in li.text]

        # Once as the script adds it, once as the page is served with it.
        self.until("the mail's failure listed by the script", listed)
        self.assertIn(SCRIPT, listed()[0])
        self.driver.refresh()
        self.until("the mail's failure served in the page", listed)
        self.assertIn(SCRIPT, listed()[0])
        self.assertEqual(self.driver.execute_script("return typeof window.pwned"), "undefined")
        self.check_browser_clean()


if __name__ == "__main__":
    unittest.main(verbosity=2)

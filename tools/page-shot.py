#!/usr/bin/python3
"""Takes the README's screenshots of the status page: docs/status-page-desktop.png (1200x900) and
docs/status-page-phone.png (390x844).

Usage: tools/page-shot.py [BUILD_DIR]   (default: build; zarvik-maild and zarvik-sim built there)
Run it with only loopback, e.g.:
  unshare -n -- bash -c 'ip link set lo up && exec tools/page-shot.py build'

It runs zarvik-sim and zarvik-maild on free loopback ports, feeds a minute of changing readings,
lets the upper rule fire (its mail goes to tools/smtp_sink.py), mutes and logs in, then shoots the page in headless Chromium.
"""
import base64
import math
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "web"))
os.environ.setdefault("ZARVIK_POLL_MS", "250")
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
os.environ["ZARVIK_SIM"] = os.path.join(build, "tools", "zarvik-sim")
os.environ["ZARVIK_MAILD"] = os.path.join(build, "app", "zarvik-maild")
# Nothing reaches a keyring or the desktop's bus.
os.environ["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/zarvik-no-bus"

import tst_webbrowser as harness  # noqa: E402  (the same peers and browser as the test)
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

READINGS_SECONDS = 75


def post(maild, action, body=b""):
    # A script acts with its login alone (no page token).
    request = urllib.request.Request(maild.origin + "/api/" + action, data=body, method="POST")
    request.add_header("Authorization", "Basic " + base64.b64encode(
        ("%s:%s" % (harness.USER, harness.PASSWORD)).encode()).decode())
    request.add_header("Content-Type", "application/x-www-form-urlencoded")
    with urllib.request.urlopen(request, timeout=10) as reply:
        reply.read()


def shoot(driver, width, height, path):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 480})
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        "return document.documentElement.clientWidth") <= width)
    driver.refresh()
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        "return document.getElementById('btn-ack') !== null"
        " && document.querySelector('#event-list li') !== null"))
    driver.save_screenshot(path)
    print("wrote", path)


def main():
    folder = tempfile.mkdtemp(prefix="page-shot-")
    sim = maild = driver = smtp = None
    try:
        # The alert's mail goes to a local sink, so that the page lists it as sent.
        smtp = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(root, "tools", "smtp_sink.py"),
             "--maildir", folder], stdout=subprocess.PIPE, text=True)
        smtp_port = int(smtp.stdout.readline().split()[2])
        threading.Thread(target=smtp.stdout.read, daemon=True).start()
        sim = harness.Sim(24.0)
        maild = harness.Maild(folder, sim.port,
                              "[Mail]\nAddress=127.0.0.1:%d\nFrom=zarvik@example.com\n"
                              "To=ops@example.com\n" % smtp_port,
                              limits="UTemp=30\nCheck_U=1\nLTemp=15\nCheck_L=1\n")
        # A minute and more of readings that rise and fall, then climb past the upper limit.
        start = time.monotonic()
        while (elapsed := time.monotonic() - start) < READINGS_SECONDS:
            sim.send("temp %.1f" % (25.5 + 2.5 * math.sin(elapsed / 9) + elapsed / 30))
            time.sleep(0.5)
        for celsius in (30.4, 31.2, 31.8):
            sim.send("temp %.1f" % celsius)
            time.sleep(1)
        sim.send("rb1 1")
        time.sleep(1)
        post(maild, "mute", b"for=1h")
        post(maild, "unmute")

        driver = harness.browser(folder)
        driver.get("http://%s:%s@127.0.0.1:%d/login"
                   % (harness.USER, urllib.parse.quote(harness.PASSWORD), maild.web_port))
        WebDriverWait(driver, 30).until(lambda d: d.current_url == maild.origin + "/")
        docs = os.path.join(root, "docs")
        shoot(driver, 1200, 900, os.path.join(docs, "status-page-desktop.png"))
        shoot(driver, 390, 844, os.path.join(docs, "status-page-phone.png"))
    except Exception:
        if maild:
            sys.stderr.write(maild.log_text())
        raise
    finally:
        if driver:
            driver.quit()
        if maild:
            maild.stop()
        if sim:
            sim.stop()
        if smtp:
            smtp.terminate()
            smtp.wait()
        shutil.rmtree(folder, True)


if __name__ == "__main__":
    main()

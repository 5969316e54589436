#!/usr/bin/env python3
"""zxcollect --live in a real headless browser, during a run against vci-sim --unique-values
(value k of a record = counter * 8 + k): the charts hold a growing number of points, and the
latest-values table shows values of one record the simulator sent, which the CSV files hold.
The browser's screenshot is written to SCREENSHOT when given.
    live_page_browser_test.py <zxcollect> <vci-sim> [SCREENSHOT]"""
import shutil
import sys
import tempfile

from live_support import Collection, Simulator, poll_until, require_private_network, saved_values

require_private_network()
from selenium import webdriver  # noqa: E402  (after the guard: a skip needs no browser)
from selenium.webdriver.chrome.service import Service  # noqa: E402

zxcollect, vci_sim = sys.argv[1], sys.argv[2]
screenshot = sys.argv[3] if len(sys.argv) > 3 else None


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--no-first-run", "--window-size=1400,1100", f"--user-data-dir={profile}"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def latest_row(driver):
    """CH1..CH6 of box 0, channel 0, identifier 0x101 (Temperature), once all six are numbers.
    Read in one script: the page renews the table twice a second."""
    texts = driver.execute_script(
        'const row = document.querySelector(\'#latest tr[data-device="0"][data-channel="0"][data-id="257"]\');'
        'return row ? [1, 2, 3, 4, 5, 6].map((k) => row.querySelector(".v" + k).textContent) : null;')
    return [int(text) for text in texts] if texts and all(t.lstrip("-").isdigit() for t in texts) else None


failures = []
with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as profile:
    simulator = Simulator(vci_sim, "--unique-values")
    run = Collection(zxcollect, f"{root}/csv", "0", "--duration", "60")
    driver = None
    try:
        url = run.url()
        driver = browser(profile)
        driver.get(url)
        first = poll_until(lambda: driver.execute_script("return window.zxLive.points()"), 20, "chart points")
        later = poll_until(lambda: (n := driver.execute_script("return window.zxLive.points()")) > first and n,
                           20, "more chart points")
        charts = driver.execute_script("return window.zxLive.charts()")
        values = poll_until(lambda: latest_row(driver), 20, "the latest values of 0x101")
        print(f"chart points {first} then {later}; charts {charts}; latest values of 0x101 {values}")
        if sorted(charts) != ["Current", "Frequency", "Temperature", "Voltage"]:
            failures.append(f"one chart per mapped name expected, got {charts}")
        counter = values[0] // 8
        if values != [counter * 8 + k for k in range(6)]:
            failures.append(f"{values} are not the six values of one record the simulator sent")
        if screenshot:
            driver.save_screenshot(screenshot)
    finally:
        if driver:
            driver.quit()
        run.stop()
        simulator.stop()
    for k, value in enumerate(values):
        if value not in saved_values(f"{root}/csv", "Temperature", k + 1):
            failures.append(f"value {value} shown for CH{k + 1} is not in the CSV files")
    shutil.rmtree(f"{root}/csv", ignore_errors=True)

for failure in failures:
    print("FAIL:", failure)
print("PASS" if not failures else "FAILED")
sys.exit(1 if failures else 0)

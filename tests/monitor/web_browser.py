#!/usr/bin/python3
"""Drives headless Chromium through clarow's web page, step by step with the test that runs it.

Usage: web_browser.py URL SENSOR DOWNLOAD_DIR PROTECTED_URL
Lines on standard output tell the test how far it got ("grid-ok", "updated", "downloaded PATH",
"done"); the test answers "scanned" on standard input once it has run the next scans. Any
failed check ends the script with "FAIL: reason" and exit code 1. Every wait is bounded.
"""
import os
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

HOSTILE = "<script>alert(1)</script>"


def fail(why):
    print("FAIL: " + why, flush=True)
    sys.exit(1)


def check(condition, why):
    if not condition:
        fail(why)


def no_alert(driver):
    try:
        driver.switch_to.alert
    except NoAlertPresentException:
        return
    fail("a script from a location ran (an alert is open)")


def rows(driver):
    return driver.find_elements(By.CSS_SELECTOR, "#grid tbody tr")


# The page redraws its grid every few seconds, so an element found a moment ago may be gone by
# the next call. The grid is therefore read in one script call, all rows at once, as one picture.
GRID_SCRIPT = """
return Array.from(document.querySelectorAll('#grid tbody tr')).map(function (r) {
    var cells = Array.from(r.querySelectorAll('td'));
    return {cls: r.className,
            cells: cells.map(function (c) { return c.innerText.trim(); }),
            colour: cells.length ? getComputedStyle(cells[0]).backgroundColor : ''};
});
"""


def grid(driver):
    return driver.execute_script(GRID_SCRIPT)


def main():
    url, sensor, downloads, protected_url = sys.argv[1:5]
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1024,768", "--user-data-dir=" + tempfile.mkdtemp(prefix="clarow-chromium-")):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(30)
    wait = WebDriverWait(driver, 40, ignored_exceptions=(StaleElementReferenceException,))
    try:
        # The grid: both sensors, the one in alarm on top in the alarm colour, its state in words,
        # the hostile location shown as text.
        driver.get(url)
        wait.until(lambda d: len(grid(d)) == 2)
        first = grid(driver)[0]
        check("alarm" in first["cls"].split(), "the first row is not the alarm row")
        check(first["cells"][-1] == "Alarm", "the alarm row does not say Alarm")
        colour = first["colour"]
        check(colour in ("rgba(255, 128, 128, 1)", "rgb(255, 128, 128)"), "alarm row colour is " + colour)
        check(first["cells"][0] == HOSTILE, "the location is not shown as text")
        check(not driver.find_elements(By.CSS_SELECTOR, "#grid script"), "a location became a script element")
        no_alert(driver)
        driver.execute_script("window.clarowMarker = 1;")
        print("grid-ok", flush=True)

        # After the next scans the sensor is back to normal: the grid shows it without a reload.
        check(sys.stdin.readline().strip() == "scanned", "the test did not scan")
        wait.until(lambda d: [r["cells"][-1:] for r in grid(d)] == [["Normal"], ["Normal"]])
        check(driver.execute_script("return window.clarowMarker;") == 1, "the page was reloaded")
        no_alert(driver)
        print("updated", flush=True)

        # The sensor's page: a chart with the readings and both limit lines.
        wait.until(lambda d: rows(d)[0].find_element(By.CSS_SELECTOR, "th a").click() or True)
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "svg.chart polyline.series"))
        count = int(driver.find_element(By.CSS_SELECTOR, "svg.chart polyline.series").get_attribute("data-count"))
        check(count >= 2, "the chart has %d readings" % count)
        limits = {e.get_attribute("class"): e.get_attribute("data-value")
                  for e in driver.find_elements(By.CSS_SELECTOR, "svg.chart line.limit")}
        check(limits == {"limit low": "0", "limit high": "50"}, "limit lines %r" % limits)
        check(driver.find_element(By.TAG_NAME, "h1").text == HOSTILE, "the heading is not the location as text")
        no_alert(driver)

        # The export of today through the page's form.
        today = time.strftime("%Y-%m-%d")
        for field in ("from", "to"):
            box = driver.find_element(By.ID, field)
            check(driver.find_element(By.CSS_SELECTOR, "label[for=%s]" % field).text, "unlabelled " + field)
            driver.execute_script("arguments[0].value = arguments[1];", box, today)
        driver.find_element(By.CSS_SELECTOR, "form button").click()
        deadline = time.time() + 30
        done = []
        while time.time() < deadline and not done:
            done = [f for f in os.listdir(downloads) if f.endswith(".csv")]
            time.sleep(0.2)
        check(done, "no CSV was downloaded")
        print("downloaded " + os.path.join(downloads, done[0]), flush=True)

        # With a password: nothing without it, the grid with it.
        try:
            urllib.request.urlopen(protected_url, timeout=10)
            fail("the protected page answered without a password")
        except urllib.error.HTTPError as e:
            check(e.code == 401, "the protected page answered %d" % e.code)
        parts = urllib.parse.urlsplit(protected_url)
        driver.get("%s://clarow:s3cret@%s%s" % (parts.scheme, parts.netloc, parts.path))
        wait.until(lambda d: len(grid(d)) == 2)
        print("done", flush=True)
    finally:
        driver.quit()


if __name__ == "__main__":
    main()

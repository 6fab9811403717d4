#!/usr/bin/python3
"""tallyphon-web as its users meet it: a real Chromium, driven through
chromedriver, against the real program over a real PostgreSQL server.

Logs in through the form, looks at every page of PAGES, keeps an office's
user to that office, shows hostile office texts as text, refuses a form
without its token, ends an idle session and logs out. Every download of
DOWNLOADS, fetched with the browser's session, must be byte for byte what
tallyphon-report writes from the same database.

With TALLYPHON_SCREENSHOTS=DIR set, the pages of PAGES are saved as
DIR/NAME.png (docs/screenshots holds the ones the README shows); otherwise
nothing is written outside a temporary directory.

Runs Debian's /usr/bin/python3, whose python3-selenium it needs.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# The pages every user with the menu sees: (path, screenshot name). A new
# page is one more line here; the admin "boss" visits each.
PAGES = [
    ("/login", "login"),
    ("/", "offices"),
    ("/calls?site=Kiev-A", "calls"),
    ("/lines", "lines"),
    ("/trunks?site=Kiev-A", "trunks"),
    ("/bill?site=Kiev-A", "bill"),
    ("/charts", "charts"),
    ("/alerts", "alerts"),
    ("/tariffs", "tariffs"),
]

# Downloads checked against the report program: (path, tallyphon-report
# options before the output option, the output option). The page's bytes
# must equal the file the program writes for those options, e.g.
# ("/calls.csv?site=Kiev-A", ["--site", "Kiev-A"], "--csv-calls").
DOWNLOADS = [
    ("/calls.csv?site=Kiev-A", ["--site", "Kiev-A", "--tariffs", "@tariffs"], "--csv-calls"),
    ("/calls.csv?site=Kiev-A&prefix=2", ["--site", "Kiev-A", "--prefix", "2",
                                          "--tariffs", "@tariffs"], "--csv-calls"),
    ("/bill.csv?site=Kiev-A", ["--site", "Kiev-A", "--tariffs", "@tariffs",
                               "--subscribers", "@directory"], "--bill-csv"),
    ("/lines.csv", [], "--csv-lines"),
    ("/trunks.csv?site=Kiev-A", ["--site", "Kiev-A"], "--csv-trunks"),
]

# Kiev-A's tariff file and subscriber directory, uploaded through the
# "Тарифы" form as a Russian spreadsheet saves them (Windows-1251); "@NAME"
# in DOWNLOADS is the file's path for tallyphon-report.
TABLES = {
    "tariffs": "Префикс;Зона;Цена;Соединение;Первый;Шаг;Бесплатно\r\n"
               "8;Межгород;5,50;;60;60;\r\n*;Город;1,00;0,10;60;60;5\r\n",
    "directory": "Номер;Имя;Отдел\r\n121;Петров П. П.;Бухгалтерия\r\n",
}

PASSWORDS = {"boss": "boss-password", "kiev": "kiev-password"}
HOSTILE_SITE = '"><img src=x onerror="window.tpInjected=1">'
HOSTILE_MODEL = "<script>window.tpInjected=2</script>"
WAIT_S = 15


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def run(argv, stdin=""):
    """The program's standard output; raises Failure when it fails."""
    done = subprocess.run(argv, input=stdin.encode(), capture_output=True, timeout=60)
    if done.returncode != 0:
        raise Failure("%s: %d\n%s" % (" ".join(argv), done.returncode,
                                      done.stderr.decode(errors="replace")))
    return done.stdout


class World:
    """The cluster, the database and the servers; stop() ends what started."""

    def __init__(self, args, tmp):
        self.args = args
        self.tmp = tmp
        self.servers = []
        self.cluster = subprocess.Popen([args.cluster], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)
        socket_dir = self.cluster.stdout.readline().decode().strip()
        check(socket_dir, "pg_cluster_run gave no cluster")
        self.owner = "host=%s user=tallyphon dbname=postgres" % socket_dir
        self.reader = "host=%s user=web_reader dbname=postgres" % socket_dir

    def psql(self, sql):
        return run(["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", self.owner,
                    "-c", sql]).decode()

    def add_user(self, name, role):
        run([self.args.web, "--db", self.owner, "--add-user", name, "--role", role],
            PASSWORDS[name] + "\n")

    def start_web(self, *extra, host="127.0.0.1"):
        """The base URL of a new tallyphon-web on a free port of host; its
        journal goes to a file, which no full pipe can hold up."""
        journal_path = os.path.join(self.tmp, "web%d.journal" % len(self.servers))
        with open(journal_path, "wb") as journal_file:
            server = subprocess.Popen([self.args.web, "--db", self.reader,
                                       "--listen", host + ":0", *extra], stderr=journal_file)
        self.servers.append(server)
        deadline = time.monotonic() + WAIT_S
        while True:
            with open(journal_path, encoding="utf-8", errors="replace") as f:
                journal = f.read()
            found = re.search(r", порт (\d+);", journal)
            if found:
                return "http://%s:%d" % (host, int(found.group(1)))
            check(time.monotonic() < deadline and server.poll() is None,
                  "tallyphon-web did not start: " + journal)
            time.sleep(0.02)

    def stop(self):
        for server in self.servers:
            server.terminate()
            server.wait(timeout=WAIT_S)
        self.cluster.stdin.close()
        self.cluster.wait(timeout=60)


class Browser:
    def __init__(self, tmp, shots):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + os.path.join(tmp, "chromium"),
                     "--window-size=1100,760", "--hide-scrollbars", "--lang=ru"]:
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.shots = shots
        self.base = ""

    def path(self):
        url = self.driver.current_url
        return url[len(self.base):] if url.startswith(self.base) else url

    def wait_for_path(self, path):
        try:
            WebDriverWait(self.driver, WAIT_S).until(lambda d: self.path() == path)
        except Exception:
            raise Failure("expected %s, the browser is at %s" % (path, self.path()))

    def status(self):
        """The HTTP status of the document shown."""
        return self.driver.execute_script(
            "return performance.getEntriesByType('navigation')[0].responseStatus")

    def text(self):
        return self.driver.find_element(By.TAG_NAME, "body").text

    def headings(self):
        """The offices shown: the texts of the page's h2."""
        return [h.text for h in self.driver.find_elements(By.TAG_NAME, "h2")]

    def visit(self, path, shot=None):
        """Opens path, which must answer 200, and saves its screenshot when
        asked; the page's text."""
        self.driver.get(self.base + path)
        check(self.status() == 200, "%s answered %s" % (path, self.status()))
        if shot and self.shots:
            # The window as tall as the page, measured in a short one
            # (the page is never shorter than its window).
            self.driver.set_window_size(1100, 240)
            height = self.driver.execute_script(
                "return document.documentElement.scrollHeight"
                " + window.outerHeight - window.innerHeight")
            self.driver.set_window_size(1100, min(height, 4000))
            self.driver.save_screenshot(os.path.join(self.shots, shot + ".png"))
            self.driver.set_window_size(1100, 760)
        return self.text()

    def log_in(self, name, password=None):
        self.driver.get(self.base + "/login")
        self.driver.find_element(By.NAME, "name").send_keys(name)
        self.driver.find_element(By.NAME, "password").send_keys(password or PASSWORDS[name])
        self.driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click()

    def log_out(self):
        self.driver.find_element(By.CSS_SELECTOR, "#logout button").click()
        self.wait_for_path("/login")

    def download(self, path):
        """The bytes path gives with the browser's session (a download the
        browser would save)."""
        cookie = self.driver.get_cookie("tp_session")
        check(cookie, "no session cookie")
        request = urllib.request.Request(self.base + path,
                                         headers={"Cookie": "tp_session=" + cookie["value"]})
        with urllib.request.urlopen(request, timeout=WAIT_S) as reply:
            check(reply.status == 200, "%s answered %d" % (path, reply.status))
            return reply.read()


def report_bytes(world, options, output):
    """What tallyphon-report writes from the database for options, the
    file of output (e.g. --csv-calls)."""
    target = os.path.join(world.tmp, "report.out")
    options = [os.path.join(world.tmp, o[1:] + ".csv") if o.startswith("@") else o
               for o in options]
    run([world.args.report, "--db", world.owner, *options, output, target])
    with open(target, "rb") as f:
        return f.read()


def no_alert(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def fill(world):
    world.psql(
        "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'web_reader')"
        " THEN CREATE ROLE web_reader LOGIN; END IF; END $$;"
        " GRANT tallyphon_web TO web_reader;"
        " INSERT INTO tallyphon.sites (site, model, serial, shipped_calls, shipped_at) VALUES"
        "  ('Kiev-A', 'QS20', 'SN-1001', 3, now()), ('Lviv-B', 'QTV610', '4321', 1, now());"
        " INSERT INTO tallyphon.calls VALUES"
        "  ('Kiev-A', 1, 0, 'QS20', 'SN-1001', localtimestamp(0) - interval '2 hours', 95,"
        "   '12', '121', '200', '2345678', 'a'),"
        "  ('Kiev-A', 1, 80, 'QS20', 'SN-1001', localtimestamp(0) - interval '1 hour', 31,"
        "   '14', '141', '201', '0442345678', 'b'),"
        "  ('Kiev-A', 1, 160, 'QS20', 'SN-1001', localtimestamp(0) - interval '1 minute', 7,"
        "   '12', '121', '200', '103', 'c'),"
        "  ('Lviv-B', 1, 0, 'QTV610', '4321', '2007-03-05 10:00:00', 5, '77', '', '',"
        "   'secret-b', 'y')")
    world.add_user("boss", "admin")
    world.add_user("kiev", "office:Kiev-A")


def test_pages_and_offices(world, browser):
    browser.log_in("boss")
    browser.wait_for_path("/")
    text = browser.text()
    # The last call of Kiev-A and the three of today, as stored above.
    for expected in ["Офисы", "Kiev-A", "Lviv-B", "SN-1001", "номер 103, 7 с"]:
        check(expected in text, "the offices page lacks %r:\n%s" % (expected, text))
    check(re.search(r"Звонков сегодня\s+3", text), "Kiev-A's three calls today:\n" + text)
    upload_tables(world, browser)
    for path, shot in PAGES:
        page = browser.visit(path, shot)
        check("Нет такой страницы" not in page, path + ": " + page)
    browser.visit("/")
    for path, options, output in DOWNLOADS:
        got, want = browser.download(path), report_bytes(world, options, output)
        check(got == want, "%s: %d bytes, tallyphon-report wrote %d" % (path, len(got),
                                                                         len(want)))


def upload_tables(world, browser):
    browser.visit("/tariffs")
    Select(browser.driver.find_element(By.NAME, "site")).select_by_value("Kiev-A")
    for kind, text in TABLES.items():
        path = os.path.join(world.tmp, kind + ".csv")
        with open(path, "wb") as f:
            f.write(text.encode("cp1251"))
        browser.driver.find_element(By.NAME, kind).send_keys(path)
    browser.driver.find_element(By.CSS_SELECTOR, "main form button[type=submit]").click()
    WebDriverWait(browser.driver, WAIT_S).until(
        lambda d: "directory.csv" in d.find_element(By.TAG_NAME, "main").text)
    check(browser.status() == 200, "the upload answered %s" % browser.status())
    # Rated by what was uploaded: 95 s of Город (2 min at 1,00 and 0,10).
    text = browser.visit("/calls?site=Kiev-A")
    check("2,10" in text and "Город" in text, "the calls page is not rated:\n" + text)


def test_hostile_text(world, browser):
    world.psql("INSERT INTO tallyphon.sites (site, model) VALUES ($q$%s$q$, $q$%s$q$)"
               % (HOSTILE_SITE, HOSTILE_MODEL))
    text = browser.visit("/")
    # Shown as the very characters stored, with no element made of them.
    check(HOSTILE_SITE in text and HOSTILE_MODEL in text, "hostile text not shown:\n" + text)
    check(HOSTILE_SITE in browser.headings(), "headings: %r" % browser.headings())
    elements = browser.driver.execute_script(
        "return document.querySelectorAll('main img, main script, [onerror]').length")
    check(elements == 0, "%d elements made of stored text" % elements)
    check(browser.driver.execute_script("return window.tpInjected === undefined"),
          "stored text ran as a script")
    check(no_alert(browser.driver), "an alert is open")


def test_csrf(browser):
    browser.visit("/")
    # The logout form, its token taken away: the server refuses it and the
    # session lives on.
    browser.driver.execute_script(
        "document.querySelector('#logout input[name=csrf]').remove();"
        " document.getElementById('logout').submit()")
    browser.wait_for_path("/logout")
    check(browser.status() == 403, "a form without its token: %s" % browser.status())
    check("Форма устарела" in browser.text(), browser.text())
    check("Kiev-A" in browser.visit("/"), "the session ended")


def test_office_user(browser):
    # "Выйти" ends the session: the pages lead to the login again.
    browser.log_out()
    browser.driver.get(browser.base + "/")
    browser.wait_for_path("/login")
    browser.log_in("kiev")
    browser.wait_for_path("/")
    for path in ["/", "/?site=Lviv-B"]:
        text = browser.visit(path)
        check("Lviv-B" not in text and "secret-b" not in text and "onerror" not in text,
              "%s shows another office:\n%s" % (path, text))
        check(browser.headings() == (["Kiev-A"] if path == "/" else []),
              "%s:\n%s" % (path, text))
    browser.log_out()
    browser.driver.get(browser.base + "/")
    browser.wait_for_path("/login")


def start_idle_session(world, browser):
    """Logs in to a server whose sessions end after a second idle, at
    another address, whose cookie the other tests leave alone; the server's
    base URL and when the session was last used."""
    base = world.start_web("--idle-timeout", "1", host="127.0.0.2")
    browser.base = base
    browser.log_in("boss")
    browser.wait_for_path("/")
    return base, time.monotonic()


def test_idle_session(browser, base, last_used):
    # Idle for longer than its second while the other tests ran; should
    # they have been quicker, the rest of it is waited for, as no request
    # could tell without using the session.
    time.sleep(max(0.0, last_used + 2.2 - time.monotonic()))
    browser.base = base
    browser.driver.get(base + "/")
    browser.wait_for_path("/login")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--cluster", required=True)
    args = parser.parse_args()
    shots = os.environ.get("TALLYPHON_SCREENSHOTS", "")
    if shots:
        os.makedirs(shots, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="tallyphon-browser-")
    world = browser = None
    try:
        world = World(args, tmp)
        run([args.report, "--db", world.owner, "--create-schema"])
        fill(world)
        browser = Browser(tmp, shots)
        idle = start_idle_session(world, browser)
        browser.base = world.start_web()
        test_pages_and_offices(world, browser)
        test_hostile_text(world, browser)
        test_csrf(browser)
        test_office_user(browser)
        test_idle_session(browser, *idle)
        print("web.browser: all passed")
        return 0
    except Failure as e:
        print("web.browser FAILED: %s" % e, file=sys.stderr)
        return 1
    finally:
        if browser:
            browser.driver.quit()
        if world:
            world.stop()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

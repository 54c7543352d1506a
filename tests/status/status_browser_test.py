#!/usr/bin/python3
"""The status page in a real browser: the gateway relays to an SNPP stand-in that is down, then up; one page
is refused, sent again from the page's button, and relayed. Also: a form posted from another site's page is
refused, so is a page that page's image would send through a carrier's form, and so is a client outside
loopback.

Usage: status_browser_test.py PAGING_GATEWAY SCREENSHOT_FOLDER
"""
import json
import os
import re
import shutil
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

ADDRESS, PORT, SNPP_PORT = "127.77.16.1", 8016, 4416
BASE = f"http://{ADDRESS}:{PORT}"
REFUSED_PHONE = "5550000550"


class Snpp(socketserver.StreamRequestHandler):
    """Enough SNPP for the relay: PAGE refused with 550 for REFUSED_PHONE until `accept_all` is set."""

    accept_all = False

    def reply(self, text):
        self.wfile.write((text + "\r\n").encode())

    def handle(self):
        self.reply("220 SNPP stand-in ready")
        for raw in self.rfile:
            command = raw.decode("latin-1").strip()
            verb = command.split(" ")[0].upper()
            if verb == "PAGE":
                refused = command.endswith(REFUSED_PHONE) and not Snpp.accept_all
                self.reply("550 Pager ID not found" if refused else "250 Pager ID accepted")
            elif verb == "DATA":
                self.reply("354 Begin input; end with <CRLF>.<CRLF>")
                for line in self.rfile:
                    if line.rstrip(b"\r\n") == b".":
                        break
                self.reply("250 Message OK")
            elif verb in ("MESS", "RESE"):
                self.reply("250 OK")
            elif verb == "SEND":
                self.reply("250 Message Sent")
            elif verb == "QUIT":
                self.reply("221 Bye")
                return
            else:
                self.reply("500 Command not implemented")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def wait_for(condition, seconds=30):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


DIRECT = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def fetch(url, data=None):
    """The status and body; no status while nothing listens."""
    try:
        with DIRECT.open(url, data=data, timeout=5) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()
    except OSError:
        return None, b""


def states():
    return {page["phone"]: page for page in json.loads(fetch(BASE + "/status.json")[1])["pages"]}


def send_page(phone, message):
    query = urllib.parse.urlencode({"phoneMin": phone, "msg": message})
    return fetch(f"{BASE}/BMG/sendmessage.jsp?{query}")[0]


def start_gateway(folder, *extra):
    log = open(os.path.join(folder, "gateway.log"), "a")  # every start's lines, for a failure's report
    return subprocess.Popen([sys.argv[1], *extra], stdout=log, stderr=subprocess.STDOUT)


def logged(folder, text):
    with open(os.path.join(folder, "gateway.log")) as log:
        return text in log.read()


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-proxy-server",
                     "--window-size=480,1100"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def state_cell(driver, page_id):
    from selenium.webdriver.common.by import By

    return driver.find_element(By.CSS_SELECTOR, f"#page-{page_id} td.state").text


def main():
    if not all(os.path.exists(tool) for tool in ("/usr/bin/chromium", "/usr/bin/chromedriver")):
        print("skipped: chromium and chromium-driver are not installed (tools/setup.sh)")
        return 77
    from selenium.webdriver.common.by import By

    folder = tempfile.mkdtemp(prefix="mervastx-status-")
    spool = os.path.join(folder, "spool")
    gateway = start_gateway(folder, "--address", ADDRESS, "--port", str(PORT), "--spool", spool,
                            "--relay", f"snpp://{ADDRESS}:{SNPP_PORT}", "--retry-first", "200", "--retry-most", "1000")
    snpp = driver = None
    try:
        assert wait_for(lambda: fetch(BASE + "/status")[0] == 200), "the gateway did not start"
        assert send_page("5551234567", "Server room at 31 C") == 200
        assert send_page(REFUSED_PHONE, "Backup <failed> & stopped") == 200
        pages = states()
        relayed_id, refused_id = pages["5551234567"]["id"], pages[REFUSED_PHONE]["id"]

        driver = browser()
        driver.get(BASE + "/status")
        assert state_cell(driver, relayed_id) == "queued" and state_cell(driver, refused_id) == "queued"
        assert "Backup <failed> & stopped" in driver.page_source.replace("&lt;", "<").replace("&gt;", ">").replace(
            "&amp;", "&"), "the message is not on the page"
        assert not driver.find_elements(By.TAG_NAME, "failed"), "page text became markup"

        snpp = Server((ADDRESS, SNPP_PORT), Snpp)
        threading.Thread(target=snpp.serve_forever, daemon=True).start()
        assert wait_for(lambda: [states()[p]["state"] for p in ("5551234567", REFUSED_PHONE)] == ["relayed", "failed"])
        driver.get(BASE + "/status")
        assert state_cell(driver, relayed_id) == "relayed"
        assert state_cell(driver, refused_id) == "failed"
        reason = driver.find_element(By.CSS_SELECTOR, f"#failed-{refused_id} td.reason").text
        assert reason.startswith("550 Pager ID not found"), reason

        # Another site's page posting to the gateway, and sending a page through a carrier's form with an image:
        # the browser sends both, the gateway refuses both.
        attack = os.path.join(folder, "elsewhere.html")
        with open(attack, "w") as page:
            page.write(f'<img src="{BASE}/BMG/sendmessage.jsp?phoneMin=5559990001&amp;msg=from+elsewhere">'
                       f'<form method="post" action="{BASE}/status/send-again"><input type="hidden" name="id" '
                       f'value="{refused_id}"><button id="go">Go</button></form>')
        driver.get("file://" + attack)
        assert wait_for(lambda: logged(folder, 'from 127.0.0.1: sent by another site\'s page (Sec-Fetch-Site '
                                               '"cross-site")'), 10), "the image's page was not refused"
        assert "5559990001" not in states(), "another site's image sent a page"
        driver.find_element(By.ID, "go").click()
        assert wait_for(lambda: "stale or not from the status page" in driver.page_source, 10), driver.page_source
        assert states()[REFUSED_PHONE]["state"] == "failed", "a foreign form changed something"

        Snpp.accept_all = True
        driver.get(BASE + "/status")
        os.makedirs(sys.argv[2], exist_ok=True)
        driver.save_screenshot(os.path.join(sys.argv[2], "status_page_failed.png"))
        driver.find_element(By.CSS_SELECTOR, f"#failed-{refused_id} button").click()
        assert wait_for(lambda: states()[REFUSED_PHONE]["state"] == "relayed")
        driver.get(BASE + "/status")
        assert state_cell(driver, refused_id) == "relayed"
        driver.save_screenshot(os.path.join(sys.argv[2], "status_page.png"))

        with open(os.path.join(spool, "ledger.txt")) as ledger:
            story = [line for line in ledger if f" {refused_id} " in line]
        kinds = [" ".join([line.split(" ")[2]] + re.findall(r" (outcome=\w+)", line)) for line in story]
        kinds = [kind for kind in kinds if kind != "attempt outcome=temporary"]  # while the stand-in was down
        assert kinds == ["received", "attempt outcome=permanent", "sent-again", "attempt outcome=delivered"], kinds

        # A client outside loopback is refused unless --status-allow names it.
        addresses = subprocess.run(["hostname", "-I"], capture_output=True, text=True).stdout.split()
        outside = next((a for a in addresses if re.fullmatch(r"[\d.]+", a) and not a.startswith("127.")), None)
        if outside is None:
            print("loopback rule: skipped, this machine has no other address")
        else:
            gateway.terminate()
            gateway.wait()
            gateway = start_gateway(folder, "--address", outside, "--port", str(PORT))
            assert wait_for(lambda: fetch(f"http://{outside}:{PORT}/status")[0] == 403), "outside client not refused"
            gateway.terminate()
            gateway.wait()
            gateway = start_gateway(folder, "--address", outside, "--port", str(PORT), "--status-allow",
                                    f"{outside}/32")
            assert wait_for(lambda: fetch(f"http://{outside}:{PORT}/status")[0] == 200), "--status-allow ignored"
        print("status page test passed")
        return 0
    finally:
        if driver is not None:
            driver.quit()
        if snpp is not None:
            snpp.shutdown()
        gateway.terminate()
        gateway.wait()
        with open(os.path.join(folder, "gateway.log")) as log:
            sys.stdout.write(log.read())
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

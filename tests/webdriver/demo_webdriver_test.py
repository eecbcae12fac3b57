"""Drives the demo application through WebKitWebDriver and Selenium.

Run inside a desktop session (scripts/test-session):
    demo_webdriver_test.py <demo backend binary> <ovalis binary> [unittest arguments]

The driver starts the demo's backend, which starts the launcher; with
OVALIS_AUTOMATION=1 the session's window is the demo's main window, bridge
and backend live. Without it the session request must be refused.
"""

import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import SessionNotCreatedException, WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.options import ArgOptions
from selenium.webdriver.support.ui import WebDriverWait

DRIVER = os.environ.get("OVALIS_WEBDRIVER", "/usr/bin/WebKitWebDriver")
BACKEND = None  # set from the command line
OVALIS = None


class AppOptions(ArgOptions):
    """Capabilities for an application rather than a browser: no
    browserName (the driver reports the application's own), only the
    program the driver starts."""

    def __init__(self, capabilities):
        super().__init__()
        for name, value in capabilities.items():
            self.set_capability(name, value)

    def to_capabilities(self):
        return self._caps

    @property
    def default_capabilities(self):
        return {}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Driver:
    """A WebKitWebDriver server of our own, its output kept in a file."""

    def __init__(self, automation):
        env = dict(os.environ)
        env.pop("OVALIS_AUTOMATION", None)
        if automation:
            env["OVALIS_AUTOMATION"] = "1"
        self.port = free_port()
        self.log = tempfile.NamedTemporaryFile(prefix="webdriver-", suffix=".log", delete=False)
        self.proc = subprocess.Popen([DRIVER, "--port=%d" % self.port], env=env,
                                     stdout=self.log, stderr=subprocess.STDOUT)
        self.url = "http://127.0.0.1:%d" % self.port
        deadline = time.monotonic() + 20
        while True:
            try:
                urllib.request.urlopen(self.url + "/status", timeout=2).read()
                return
            except OSError:
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    raise RuntimeError("WebKitWebDriver did not start")
                time.sleep(0.1)

    def session(self):
        return webdriver.Remote(command_executor=self.url, options=AppOptions(
            {"webkitgtk:browserOptions": {"binary": BACKEND, "args": []}}))

    def output(self):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.unlink(self.log.name)


def unique_colours(png_bytes):
    with tempfile.NamedTemporaryFile(suffix=".png") as f:
        f.write(png_bytes)
        f.flush()
        out = subprocess.run(["identify", "-format", "%w %h %k", f.name],
                             capture_output=True, text=True, check=True).stdout.split()
    return int(out[0]), int(out[1]), int(out[2])


class AutomationOn(unittest.TestCase):
    def setUp(self):
        self.started = time.monotonic()
        self.driver_server = Driver(automation=True)
        self.addCleanup(self.driver_server.stop)
        self.d = self.driver_server.session()
        self.wait = WebDriverWait(self.d, 20)

    def tearDown(self):
        try:
            self.d.quit()
        except WebDriverException:
            pass  # the application ends with its main window
        print("\nwebdriver session with automation on: %.1f s" % (time.monotonic() - self.started),
              file=sys.stderr)

    def panel_button(self, label):
        return self.d.find_element(
            By.XPATH, "//section[@id='panel-windows']//button[normalize-space()='%s']" % label)

    def last_answer(self, label):
        """The newest answer the windows panel shows for an action, once it is there."""
        # Events the panel also lists (window-state) may come in between.
        script = """
            for (const li of document.querySelectorAll('#panel-windows ol.answers li')) {
              if (li.querySelector('.what').textContent === arguments[0])
                return [li.className, li.querySelector('.value').textContent];
            }
            return null;"""
        try:
            return self.wait.until(lambda d: d.execute_script(script, label))
        except WebDriverException:
            panel = self.d.find_element(By.ID, "panel-windows").text
            self.fail("no answer to %r; the panel shows:\n%s" % (label, panel))

    def test_drives_the_real_application(self):
        d = self.d
        # The session is the demo application itself: the reported name is
        # its id, and its one window is the main window with the page API.
        self.assertEqual(d.capabilities.get("browserName"), "org.ovalis.demo")
        self.assertEqual(len(d.window_handles), 1)
        self.wait.until(lambda d: d.execute_script(
            "return !!window.ovalis && window.ovalis.win.id === 'main'"))

        # A button whose answer comes from the backend, which asks the launcher.
        panel = self.wait.until(lambda d: d.find_element(By.ID, "panel-windows"))
        self.assertTrue(panel.is_displayed())
        self.panel_button("Window list").click()
        kind, value = self.last_answer("Window list")
        self.assertEqual(kind, "ok")
        self.assertIn('"main"', value)

        # Typing into an input, then the backend sets the native title from it.
        title = d.find_element(By.ID, "win-title")
        title.clear()
        title.send_keys("Typed through WebDriver")
        self.assertEqual(title.get_property("value"), "Typed through WebDriver")
        self.panel_button("Set title").click()
        kind, _ = self.last_answer("Set title")
        self.assertEqual(kind, "ok")
        found = subprocess.run(["xdotool", "search", "--name", "^Typed through WebDriver$"],
                               capture_output=True, text=True)
        self.assertTrue(found.stdout.strip(), "no window has the typed title")

        # A screenshot of the page as drawn, not an empty surface.
        width, height, colours = unique_colours(d.get_screenshot_as_png())
        self.assertGreater(width, 200)
        self.assertGreater(height, 200)
        self.assertGreater(colours, 16)

        # A secondary window the page opens is a WebDriver window with its own
        # bridge; the driver can close it again.
        main = d.current_window_handle
        self.panel_button("Open second window").click()
        self.wait.until(lambda d: len(d.window_handles) == 2)
        second = next(h for h in d.window_handles if h != main)
        d.switch_to.window(second)
        self.wait.until(lambda d: d.execute_script(
            "return !!window.ovalis && window.ovalis.win.id === 'second'"))
        d.close()
        self.wait.until(lambda d: d.window_handles == [main])
        d.switch_to.window(main)
        self.wait.until(lambda d: d.execute_script(
            "return document.getElementById('windows-list').textContent.indexOf('second') < 0"))


class AutomationOff(unittest.TestCase):
    def test_session_is_refused(self):
        started = time.monotonic()
        server = Driver(automation=False)
        self.addCleanup(server.stop)
        with self.assertRaises(SessionNotCreatedException):
            server.session().quit()
        self.assertIn("automation is off", server.output())
        print("\nrefused in %.1f s" % (time.monotonic() - started), file=sys.stderr)


class OvalisTest(unittest.TestCase):
    """`ovalis test` starts the driver and hands the test command what to ask for."""

    def setUp(self):
        self.app = tempfile.TemporaryDirectory(prefix="ovalis-test-app-")
        self.addCleanup(self.app.cleanup)
        with open(os.path.join(self.app.name, "index.html"), "w") as f:
            f.write("<!doctype html><title>unused: the demo loads its own page</title>")
        with open(os.path.join(self.app.name, "ovalis.json"), "w") as f:
            f.write('{"id": "org.example.Driven", "name": "Driven", "version": "1.0.0",'
                    ' "page": "index.html", "backend": {"command": ["%s"]}}' % BACKEND)

    def ovalis_test(self, *command):
        return subprocess.run([OVALIS, "test", self.app.name, "--", *command],
                              capture_output=True, text=True, timeout=120)

    def test_runs_the_command_against_the_application(self):
        r = self.ovalis_test("/usr/bin/python3", os.path.abspath(__file__), "--client")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("client: main window driven", r.stdout)
        # The command's own status comes back, and the driver is stopped.
        r = self.ovalis_test("/bin/sh", "-c", "exit 3")
        self.assertEqual(r.returncode, 3, r.stderr)


def client():
    """What a user's test does under `ovalis test`."""
    import json
    options = AppOptions(json.loads(os.environ["OVALIS_WEBDRIVER_CAPABILITIES"]))
    d = webdriver.Remote(command_executor=os.environ["OVALIS_WEBDRIVER_URL"], options=options)
    try:
        WebDriverWait(d, 20).until(lambda d: d.execute_script(
            "return !!window.ovalis && window.ovalis.win.id === 'main'"))
        print("client: main window driven")
    finally:
        try:
            d.quit()
        except WebDriverException:
            pass


if __name__ == "__main__":
    if sys.argv[1:] == ["--client"]:
        client()
        sys.exit(0)
    BACKEND = sys.argv.pop(1)
    OVALIS = sys.argv.pop(1)
    unittest.main(verbosity=2)

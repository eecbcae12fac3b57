"""ovalis.json: every library gives the same message for the same bad
file, and a good file becomes the same launcher command line."""

import base64
import json
import os
import re
import tempfile
import unittest

from ovalis import ConfigError, load_app_config, origin_glob, parse_app_config

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
CASES = os.path.join(ROOT, "tests", "conformance", "ovalis-json-errors.json")


class AppConfigFile(unittest.TestCase):
    def setUp(self) -> None:
        self.dir = tempfile.mkdtemp()
        os.makedirs(os.path.join(self.dir, "page"))
        with open(os.path.join(self.dir, "page", "index.html"), "w") as f:
            f.write("<p>hi</p>")

    def tearDown(self) -> None:
        import shutil
        shutil.rmtree(self.dir)

    def test_shared_error_cases(self) -> None:
        with open(CASES, encoding="utf-8") as f:
            cases = json.load(f)["cases"]
        syntax = re.compile(r"^(.*line \d+, column )(\d+)$")
        for case in cases:
            with self.subTest(case["name"]):
                data = base64.b64decode(case["text_base64"]) if "text_base64" in case else case["text"].encode()
                with open(os.path.join(self.dir, "ovalis.json"), "wb") as f:
                    f.write(data)
                with self.assertRaises(ConfigError) as cm:
                    parse_app_config(data, "ovalis.json", self.dir)
                got, want = str(cm.exception), case["error"]
                m, n = syntax.match(got), syntax.match(want)
                if m and n:
                    # Readers may place a syntax error a few characters apart.
                    self.assertEqual(m.group(1), n.group(1))
                    self.assertLessEqual(abs(int(m.group(2)) - int(n.group(2))), 3, got)
                else:
                    self.assertEqual(got, want)

    def test_a_full_file_gives_the_launcher_environment(self) -> None:
        doc = {"id": "org.example.Hello", "name": "Hello", "version": "1.0.0", "page": "page/index.html",
               "window": {"width": 800, "height": 600, "activation": "accessory",
                          "chrome": {"frame": False, "controls": ["close", "minimize"], "menuBar": True}},
               "backend": {"command": ["python3", "main.py"]},
               "api": {"origins": {"http://127.0.0.1:*": ["calls", "media.proxy"]}, "media": ["microphone"]},
               "popups": "window"}
        with open(os.path.join(self.dir, "ovalis.json"), "w") as f:
            json.dump(doc, f)
        c = load_app_config(self.dir)
        o = c.launch_options()
        self.assertEqual((o.page, o.title, o.width, o.height, o.version),
                         (os.path.join(self.dir, "page/index.html"), "Hello", 800, 600, "1.0.0"))
        self.assertEqual(o.env, {"OVALIS_APP_ID": "org.example.Hello", "OVALIS_CHROME": "0\tclose,minimize\t\t\t\t\t1",
                                 "OVALIS_ACTIVATION": "accessory", "OVALIS_POPUPS": "window",
                                 "OVALIS_MEDIA": "microphone", "OVALIS_MEDIA_ORIGINS": "proxy http://127.0.0.1:*"})
        self.assertTrue(c.calls_allowed("file://"))
        self.assertTrue(c.calls_allowed("http://127.0.0.1:8080"))
        self.assertFalse(c.calls_allowed("https://evil.example"))
        with self.assertRaisesRegex(ConfigError, "cannot read"):
            load_app_config(os.path.join(self.dir, "none.json"))

    def test_origin_glob(self) -> None:
        self.assertTrue(origin_glob("http://*.example.org", "http://a.b.example.org"))
        self.assertFalse(origin_glob("http://*.example.org", "http://example.org.evil"))
        self.assertFalse(origin_glob("*a" * 30, "b" * 40))  # no blow-up on hostile patterns


if __name__ == "__main__":
    unittest.main()

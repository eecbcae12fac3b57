"""The notes example against the real launcher: its menu, a saved note, the
sync token in the keyring, an export through the save dialog with its
notification, and a file handed over by launcher --open.
    OVALIS_LAUNCHER=<launcher> python3 test_notes.py"""

import asyncio
import json
import os
import sys
import tempfile
import time
import unittest
from typing import Any, Callable

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "sdk", "python"))

import notes  # noqa: E402
import ovalis  # noqa: E402


async def until(cond: Callable[[], Any], seconds: float = 20) -> Any:
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if v := cond():
            return v
        await asyncio.sleep(0.05)
    raise AssertionError("timed out")


class NotesExample(unittest.IsolatedAsyncioTestCase):
    async def test_notes(self) -> None:
        data = tempfile.mkdtemp()
        b = ovalis.Backend()
        sent: list[str] = []
        b.trace = lambda d, text: sent.append(text) if d == ">" else None
        app = notes.Notes(b, data)
        reports: dict[str, Any] = {}
        b.handle("test.report", lambda c: reports.__setitem__(c.param("k"), c.param("v")))
        config = ovalis.load_app_config(HERE)
        self.assertTrue(await b.start_app(config))

        def page(script: str, key: str) -> None:
            b.eval("main", f"Promise.resolve().then(() => ({script})).then(v => ovalis.api.call('test.report', "
                           f"{{k: {json.dumps(key)}, v: v === undefined ? null : v}}), e => ovalis.api.call("
                           f"'test.report', {{k: {json.dumps(key)}, v: {{error: String(e && e.message || e)}}}}))")

        # The page is up once its script answers.
        async def ready() -> bool:
            page("window.notesUI ? 1 : 0", "ready")
            await asyncio.sleep(0.5)
            return reports.get("ready") == 1
        for _ in range(60):
            if await ready():
                break
        self.assertEqual(reports.get("ready"), 1)

        item = await b.get("item:export")
        self.assertEqual(item["label"], "Export…")

        page("notesUI.setText('Shopping\\nmilk \"2\" é'), notesUI.save()", "save")
        saved = await until(lambda: reports.get("save"))
        self.assertEqual(saved["title"], "Shopping")
        with open(os.path.join(data, "notes.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f)[0]["text"], 'Shopping\nmilk "2" é')

        page("ovalis.api.call('token.set', {value: 'tok\\ten \\\\ \"x\"'}).then(() => ovalis.api.call('token.get'))",
             "token")
        self.assertEqual(await until(lambda: reports.get("token")), 'tok\ten \\ "x"')

        # The save dialog starts in the downloads folder with the note's title as name;
        # Return accepts it.
        page("notesUI.exportNote()", "export")
        await until(lambda: any(s.startswith("DLG q") for s in sent))
        for _ in range(20):
            await asyncio.sleep(0.5)
            await b.keystroke("Return")
            if "export" in reports:
                break
        target = (await until(lambda: reports.get("export")))["path"]
        # The downloads folder, which is the home folder where none is set up.
        self.assertIn(target, [os.path.expanduser("~/Downloads/Shopping.txt"), os.path.expanduser("~/Shopping.txt")])
        with open(target, encoding="utf-8") as f:
            self.assertEqual(f.read(), 'Shopping\nmilk "2" é')
        self.assertTrue(any(s.startswith("NOTIFY exported\tNote exported\t") for s in sent))

        # A file opened with the application from the desktop becomes a note.
        doc = os.path.join(data, "from desktop.txt")
        with open(doc, "w", encoding="utf-8") as f:
            f.write("From the desktop\nbody")
        proc = await asyncio.create_subprocess_exec(os.environ["OVALIS_LAUNCHER"], "--open", config.socket_path(),
                                                    "/bin/false", "file://" + doc.replace(" ", "%20"))
        self.assertEqual(await proc.wait(), 0)
        await until(lambda: any(n["title"] == "From the desktop" for n in app.notes))
        await until(lambda: any(s.startswith("EVAL ") and "open-files" in s for s in sent))

        b.quit()
        self.assertEqual(await b.run(), 0)
        self.assertFalse(os.path.exists(config.socket_path()))


if __name__ == "__main__":
    unittest.main()

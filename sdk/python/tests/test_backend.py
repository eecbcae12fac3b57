"""The Backend against a stand-in launcher: calls reach handlers and every
one is answered, requests resolve or end, and the launcher's end ends them."""

import asyncio
import json
import os
import sys
import tempfile
import unittest

import ovalis

FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_launcher.py")


def call(seq: int, method: str, params: object = None, origin: str = "file://") -> str:
    return f"CALL main:{seq} " + json.dumps([json.dumps({"method": method, "params": params}), origin])


class BackendLink(unittest.IsolatedAsyncioTestCase):
    async def start(self, send: list[str]) -> ovalis.Backend:
        self.log = tempfile.mktemp()
        launcher = tempfile.mktemp()
        with open(launcher, "w") as f:
            f.write(f"#!/bin/sh\nexec {sys.executable} {FAKE} \"$@\"\n")
        os.chmod(launcher, 0o700)
        self.addCleanup(os.unlink, launcher)
        b = ovalis.Backend()
        b.handle("sync", lambda c: {"got": c.param("x")})

        async def later(c: ovalis.Call) -> object:
            await asyncio.sleep(0.01)
            return [c.window, c.origin]

        def broken(c: ovalis.Call) -> None:
            raise ValueError("no good")

        async def custom(c: ovalis.Call) -> None:
            raise ovalis.CallError({"code": 7})

        b.handle("later", later)
        b.handle("broken", broken)
        b.handle("custom", custom)
        b.handle("dialog", lambda c: c.dialog("confirm", ["Sure?"]))
        await b.start(ovalis.LaunchOptions(page="/nonexistent.html", launcher=launcher,
                                           env={"FAKE_SEND": json.dumps(send), "FAKE_LOG": self.log}))
        return b

    async def lines_sent(self, count: int) -> list[str]:
        for _ in range(500):
            if os.path.exists(self.log):
                with open(self.log, encoding="utf-8") as f:
                    got = f.read().splitlines()
                if len(got) >= count:
                    return got
            await asyncio.sleep(0.01)
        self.fail("the stand-in did not get the lines")

    async def test_every_call_is_answered(self) -> None:
        b = await self.start([call(1, "sync", {"x": "a\nb"}), call(2, "later"), call(3, "broken"),
                              call(4, "custom"), call(5, "nothing.here"), call(6, "sync", None, "https://evil.example"),
                              call(7, "dialog"), "CALL main:8 not json", "CALL nonsense"])
        got = sorted(await self.lines_sent(8))
        self.assertEqual(got, sorted([
            'RET main:1 0 {"got":"a\\nb"}', 'RET main:2 0 ["main","file://"]',
            'RET main:3 1 {"message":"no good"}', 'RET main:4 1 {"code":7}',
            'RET main:5 1 {"message":"unknown method nothing.here"}',
            'RET main:6 1 {"message":"origin https://evil.example may not call the backend"}',
            "DLG main:7 confirm\tSure?", 'RET main:8 1 {"message":"malformed call line"}']))
        b.send("TITLE two\nlines")  # refused: it would be two commands
        b.quit()
        self.assertEqual(await b.run(), 0)
        self.assertEqual(len(await self.lines_sent(9)), 9)

    async def test_requests_resolve_time_out_or_end_with_the_launcher(self) -> None:
        b = await self.start([])
        self.assertEqual(await b.get("windows"), ["main"])
        with self.assertRaises(ovalis.RequestTimeout):
            await b.get("slow", timeout=0.05)
        pending = b.get("slow", timeout=None)
        b.send("RAW EXIT 3")
        with self.assertRaises(ovalis.LauncherGone):
            await pending
        self.assertEqual(await b.run(), 3)
        self.assertFalse(b.connected)
        with self.assertRaises(ovalis.LauncherGone):
            await b.get("windows")


class SingleInstance(unittest.IsolatedAsyncioTestCase):
    async def test_open_requests_reach_the_one_instance(self) -> None:
        path = os.path.join(tempfile.mkdtemp(), "app.sock")
        got: list[object] = []
        b = ovalis.Backend()
        await b.listen_for_open(path, got.append)
        with self.assertRaisesRegex(ovalis.LaunchError, "another instance"):
            await ovalis.Backend().listen_for_open(path, got.append)
        for arg in (None, "https://example.org/?q=a b", "file:///tmp/a%20b.txt", "/tmp/no such.txt"):
            self.assertTrue(await asyncio.to_thread(ovalis.forward_open, path, ovalis.open_request(arg)))
        for _ in range(200):
            if len(got) == 4:
                break
            await asyncio.sleep(0.01)
        self.assertEqual(got, [{"activate": True}, {"url": "https://example.org/?q=a b"},
                               {"paths": ["/tmp/a b.txt"]}, {"paths": ["/tmp/no such.txt"]}])
        await b.close()
        self.assertFalse(os.path.exists(path))
        # A socket file nobody answers is stale and taken over.
        import socket
        stale = socket.socket(socket.AF_UNIX)
        stale.bind(path)
        stale.close()
        b2 = ovalis.Backend()
        await b2.listen_for_open(path, got.append)
        await b2.close()


if __name__ == "__main__":
    unittest.main()

"""Bytes through the Backend, against the stand-in launcher: announced
uploads reach handlers as bytes and their files go, bad references are
answered without the handler, and bytes a handler returns are offered in a
file named by a BLOB line before the RET."""

import asyncio
import contextlib
import io
import json
import os
import re
import shutil
import sys
import tempfile
import unittest

import ovalis
from ovalis.blobs import Inbox

FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_launcher.py")


def call(seq: int, method: str, params: object, origin: str = "file://") -> str:
    return f"CALL main:{seq} " + json.dumps([json.dumps({"method": method, "params": params}), origin])


def announce(rid: str, path: str, size: int) -> str:
    return "BLOB " + json.dumps({"id": rid, "size": size, "path": path})


def ref(rid: str, size: int) -> dict[str, object]:
    return {"$blob": rid, "size": size}


class Bytes(unittest.IsolatedAsyncioTestCase):
    def setUp(self) -> None:
        self.dir = tempfile.mkdtemp(prefix="ovalis-bytes-test-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def file(self, name: str, data: bytes) -> str:
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    async def test_uploads_in_and_offers_out(self) -> None:
        binary = bytes([0, 10, 255, 1, 2])
        kept = self.file("kept", b"kept bytes")
        up = [self.file("u1", binary), self.file("u2", b"xyz"), self.file("u3", b"q"), self.file("u4", b"short")]
        send = [
            announce("u1", up[0], 5),
            call(1, "sum", {"name": "n", "bytes": ref("u1", 5), "again": [ref("u1", 5)]}),
            call(2, "sum", {"deep": [ref("never", 1)]}),
            announce("u2", up[1], 3),
            call(3, "no.such.method", {"bytes": ref("u2", 3)}),
            announce("u3", up[2], 1),
            call(4, "sum", {"bytes": ref("u3", 1)}, "https://evil.example"),
            announce("u4", up[3], 999),
            call(5, "sum", {"bytes": ref("u4", 999)}),
            call(6, "make", {"n": 300000}),
            call(7, "sum", ref("u1", 5)),
            call(8, "echo", {"$blob": "u9", "size": 1, "x": 1}),
            call(9, "nested", {}),
            call(10, "file", {"path": kept}),
            call(11, "file", {"path": "/nonexistent/x"}),
        ]
        log = os.path.join(self.dir, "log")
        launcher = self.file("launcher", f'#!/bin/sh\nexec {sys.executable} {FAKE} "$@"\n'.encode())
        os.chmod(launcher, 0o700)
        runs = []
        b = ovalis.Backend()

        def total(c: ovalis.Call) -> object:
            runs.append(c.id)
            p = c.params
            return {"length": len(p["bytes"]), "same": p["bytes"] == binary, "again": p["again"][0] == p["bytes"],
                    "name": p["name"]}

        async def make(c: ovalis.Call) -> bytes:
            n = c.param("n")
            return (bytes(range(251)) * (n // 251 + 1))[:n]

        b.handle("sum", total)
        b.handle("make", make)
        b.handle("echo", lambda c: c.params)
        b.handle("nested", lambda c: {"data": b"hi", "bad": {1, 2}})
        b.handle("file", lambda c: c.resolve_file(c.param("path")))
        with contextlib.redirect_stderr(io.StringIO()):
            await b.start(ovalis.LaunchOptions(page="/p.html", launcher=launcher,
                                               env={"FAKE_SEND": json.dumps(send), "FAKE_LOG": log}))
            got: list[str] = []
            for _ in range(500):
                if os.path.exists(log):
                    with open(log, encoding="utf-8") as f:
                        got = f.read().splitlines()
                if len(got) >= 13:
                    break
                await asyncio.sleep(0.01)
        rets = {g.split(" ")[1]: g for g in got if g.startswith("RET ")}
        self.assertEqual(rets["main:1"], 'RET main:1 0 {"length":5,"same":true,"again":true,"name":"n"}')
        self.assertEqual(rets["main:2"], 'RET main:2 1 {"message":"no such blob: never"}')
        self.assertEqual(rets["main:3"], 'RET main:3 1 {"message":"unknown method no.such.method"}')
        self.assertEqual(rets["main:4"], 'RET main:4 1 {"message":"origin https://evil.example may not call the backend"}')
        self.assertEqual(rets["main:5"], 'RET main:5 1 {"message":"no such blob: u4"}')
        self.assertEqual(rets["main:7"], 'RET main:7 1 {"message":"no such blob: u1"}')
        self.assertEqual(rets["main:8"], 'RET main:8 0 {"$blob":"u9","size":1,"x":1}')
        # An answer JSON cannot hold is still an answer.
        self.assertTrue(rets["main:9"].startswith('RET main:9 1 {"message":"the answer is not JSON'), rets["main:9"])
        offer = next(i for i, g in enumerate(got) if g.startswith("BLOB ") and " move " in g)
        m = re.fullmatch(r"BLOB ([0-9a-f]{32}) move (/.+)", got[offer])
        assert m is not None, got[offer]
        self.assertEqual(got[offer + 1], f'RET main:6 0 {{"$blob":"{m[1]}","size":300000}}')
        with open(m[2], "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 300000)
        self.assertEqual(data[299999], 299999 % 251)
        self.assertEqual(os.stat(os.path.dirname(m[2])).st_mode & 0o777, 0o700)
        self.assertEqual(runs, ["main:1"])
        k = got.index(rets["main:10"]) - 1
        self.assertEqual(got[k][:5] + got[k][37:], f"BLOB  keep {kept}")
        self.assertEqual(rets["main:10"], f'RET main:10 0 {{"$blob":"{got[k][5:37]}","size":10}}')
        self.assertEqual(rets["main:11"],
                         'RET main:11 1 {"message":"cannot offer /nonexistent/x: No such file or directory"}')
        for p in up:
            self.assertFalse(os.path.exists(p), p)
        b.quit()
        self.assertEqual(await b.run(), 0)
        self.assertFalse(os.path.exists(m[2]), "the offers go with the backend")

    def test_the_inbox_drops_the_oldest_beyond_its_limit(self) -> None:
        files = [self.file(n, n.encode()) for n in "abc"]
        inbox = Inbox(2)
        for n, f in zip("abc", files):
            inbox.announce(json.dumps({"id": n, "size": 1, "path": f}))
        inbox.announce('{"id":"x","size":1,"path":"relative"}')
        self.assertEqual(len(inbox), 2)
        self.assertFalse(os.path.exists(files[0]))
        self.assertEqual(inbox.resolve(ref("b", 1)), (b"b", None))
        inbox.clear()
        self.assertFalse(os.path.exists(files[2]))
        self.assertEqual(ovalis.wire.json_dump([b"hi"]), '["aGk="]')


if __name__ == "__main__":
    unittest.main()

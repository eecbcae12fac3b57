"""Plays the conformance scenarios with the Python backend library:
    python3 driver.py <launcher> <scenario.json>...
    python3 driver.py --bench <launcher> <page.html> [--calls N] [--rounds R]
See sdk/conformance/README.md for the format and the contract."""

from __future__ import annotations

import asyncio
import json
import os
import shutil
import signal
import sys
import tempfile
import time
from typing import Any, Awaitable, Callable

HERE = os.path.dirname(os.path.abspath(__file__))
# The library from the source tree unless an installed one is asked for.
if not os.environ.get("OVALIS_CONFORMANCE_INSTALLED"):
    sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

import ovalis  # noqa: E402
from ovalis import lines  # noqa: E402


class Failure(Exception):
    pass


def big(n: int) -> str:
    unit = "ovalis-0123456789-"
    return (unit * (n // len(unit) + 1))[:n]


def pattern(n: int) -> bytes:
    """n bytes of the page's T.bytes(n): byte i is i % 251."""
    return (bytes(range(251)) * (n // 251 + 1))[:n]


def expand(j: Any) -> Any:
    if isinstance(j, str) and j.startswith("$big:"):
        return big(int(j[5:]))
    if isinstance(j, list):
        return [expand(e) for e in j]
    if isinstance(j, dict):
        return {k: expand(v) for k, v in j.items()}
    return j


def replaced(j: Any, token: str, text: str) -> Any:
    if isinstance(j, str):
        return j.replace(token, text)
    if isinstance(j, list):
        return [replaced(e, token, text) for e in j]
    if isinstance(j, dict):
        return {k: replaced(v, token, text) for k, v in j.items()}
    return j


def shown(j: Any) -> str:
    s = json.dumps(j, ensure_ascii=False)
    return s if len(s) <= 300 else s[:300] + "..."


def matches(want: Any, got: Any) -> bool:
    if want == "$any":
        return True
    if isinstance(want, dict):
        return isinstance(got, dict) and all(k in got and matches(v, got[k]) for k, v in want.items())
    if isinstance(want, list):
        return isinstance(got, list) and len(got) == len(want) and all(matches(w, g) for w, g in zip(want, got))
    if isinstance(want, bool) or isinstance(got, bool):
        return want is got
    if isinstance(want, (int, float)):
        return isinstance(got, (int, float)) and float(got) == float(want)
    return bool(want == got)


def expect(want: Any, got: Any, what: str) -> None:
    if not matches(want, got):
        raise Failure(f"{what}: expected {shown(want)}, got {shown(got)}")


def arg(args: Any, i: int) -> Any:
    return args[i] if isinstance(args, list) and i < len(args) else None


def sarg(args: Any, i: int) -> str:
    a = arg(args, i)
    return a if isinstance(a, str) else ""


def strings(j: Any) -> list[str]:
    return [e if isinstance(e, str) else json.dumps(e) for e in j] if isinstance(j, list) else []


def menu_items(items: Any) -> list[lines.MenuItem]:
    out: list[lines.MenuItem] = []
    for i in items if isinstance(items, list) else []:
        if i.get("sep"):
            out.append(lines.MenuItem.separator())
        elif "role" in i:
            out.append(lines.MenuItem.stock(i["role"]))
        elif "sub" in i:
            out.append(lines.MenuItem.sub(i["sub"], i.get("label", ""), menu_items(i.get("items"))))
        else:
            out.append(lines.MenuItem.item(i.get("id", ""), i.get("label", ""), i.get("accel", ""),
                                           checked=bool(i.get("checked")), disabled=bool(i.get("disabled"))))
    return out


async def wait_until(cond: Callable[[], bool], timeout_ms: float) -> bool:
    end = time.monotonic() + timeout_ms / 1000
    while not cond():
        if time.monotonic() >= end:
            return False
        await asyncio.sleep(0.01)
    return True


class Player:
    def __init__(self, launcher: str, template: str, scenario: dict[str, Any]) -> None:
        self.launcher = launcher
        self.template = template
        self.s = scenario
        self.b = ovalis.Backend()
        self.reports: dict[str, Any] = {}
        self.calls: dict[str, int] = {}
        self.events: list[list[Any]] = []  # [keyword, text, used]
        self.opens: list[Any] = []
        self.refs: dict[str, Awaitable[Any]] = {}
        self.dir = ""
        self.page = ""
        self.open_path = ""
        self.server: asyncio.Server | None = None

    async def play(self) -> None:
        self.dir = tempfile.mkdtemp(prefix="ovalis-conformance-")
        try:
            await self.setup()
            for n, st in enumerate(self.s.get("steps", []), 1):
                try:
                    await self.step(st)
                except Failure as f:
                    raise Failure(f"step {n} ({st.get('do')}): {f}") from None
        finally:
            await self.b.close()
            if self.server:
                self.server.close()
            shutil.rmtree(self.dir, ignore_errors=True)

    def html(self, page_lines: Any) -> str:
        script = "".join(line + "\n" for line in page_lines)
        if "<!--SCENARIO-->" not in self.template:
            raise Failure("page.html has no scenario marker")
        return self.template.replace("<!--SCENARIO-->", "<script>\n" + script + "</script>", 1)

    async def serve(self, page_lines: Any) -> None:
        """The served page: every GET gets it, and POST /report records what
        the page reports."""
        body = self.html(page_lines).encode()

        async def client(reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
            try:
                head = (await reader.readuntil(b"\r\n\r\n")).decode("latin-1").split("\r\n")
                length = 0
                for h in head[1:]:
                    name, _, value = h.partition(":")
                    if name.strip().lower() == "content-length":
                        length = int(value.strip())
                data = await reader.readexactly(length) if length else b""
                method, target = (head[0].split(" ") + ["", ""])[:2]
                if method == "POST" and target == "/report":
                    r = json.loads(data)
                    self.reports[str(r.get("key"))] = r.get("value")
                    writer.write(b"HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")
                else:
                    writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                 b"Cache-Control: no-store\r\nConnection: close\r\n"
                                 b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
                await writer.drain()
            except (OSError, ValueError, asyncio.IncompleteReadError, asyncio.LimitOverrunError):
                pass
            finally:
                writer.close()

        self.server = await asyncio.start_server(client, "127.0.0.1", 0)
        port = self.server.sockets[0].getsockname()[1]
        self.s = replaced(self.s, "$served", f"http://127.0.0.1:{port}")

    async def setup(self) -> None:
        if isinstance(self.s.get("serve"), dict):
            await self.serve(self.s["serve"].get("page", []))
        html = self.html(self.s.get("page", []))
        self.page = os.path.join(self.dir, "page.html")
        with open(self.page, "w", encoding="utf-8") as f:
            f.write(html)
        if os.environ.get("OVALIS_CONFORMANCE_TRACE"):
            self.b.trace = lambda d, t: print(d, t[:300], file=sys.stderr)

        def report(call: ovalis.Call) -> None:
            self.reports[str(call.param("key"))] = call.param("value")

        self.b.handle("conformance.report", report)
        for method, how in self.s.get("handlers", {}).items():
            self.b.handle(method, self.handler(method, how))
        for kw in self.s.get("events", []):
            self.b.on(kw, lambda ev: self.events.append([ev.keyword, ev.text, False]))
        if self.s.get("open_socket"):
            self.open_path = os.path.join(self.dir, "open.sock")
            try:
                await self.b.listen_for_open(self.open_path, self.opens.append)
            except ovalis.LaunchError as e:
                raise Failure(f"listen_for_open: {e}") from None
        trust = self.s.get("trust")
        if trust == "all":
            self.b.trust_all_origins()
        elif isinstance(trust, list):
            self.b.trust_origin(*trust)
        launch = self.s.get("launch", {})
        env = {k: v if isinstance(v, str) else json.dumps(v) for k, v in launch.get("env", {}).items()}
        opts = ovalis.LaunchOptions(page=self.page, launcher=self.launcher, title=launch.get("title", "conformance"),
                                    width=int(launch.get("width", 640)), height=int(launch.get("height", 480)),
                                    env=env, connect_timeout=60)
        try:
            await self.b.start(opts)
        except ovalis.LaunchError as e:
            raise Failure(f"start: {e}") from None

    def handler(self, method: str, how: dict[str, Any]) -> Callable[[ovalis.Call], Any]:
        async def run(call: ovalis.Call) -> Any:
            self.calls[method] = self.calls.get(method, 0) + 1
            if how.get("delay_ms"):
                await asyncio.sleep(how["delay_ms"] / 1000)
            if how.get("echo"):
                return call.params
            if "resolve" in how:
                return how["resolve"]
            if "reject" in how:
                raise RuntimeError(how["reject"])
            if how.get("origin"):
                return {"window": call.window, "origin": call.origin}
            if how.get("length"):
                text = call.param("text", "")
                return {"length": len(text.encode("utf-16-le")) // 2}
            if how.get("check_bytes"):
                data = call.param("bytes")
                if not isinstance(data, bytes):
                    raise RuntimeError("no bytes")
                return {"length": len(data), "first": data[0] if data else None,
                        "pattern": data == pattern(len(data)), "tag": call.param("tag")}
            if how.get("make_bytes"):
                return pattern(int(call.param("n", 0)))
            if "request" in how:
                return await self.request(how["request"].get("op", ""), how["request"].get("args"))
            if "dialog" in how:
                call.dialog(how["dialog"].get("op", ""), strings(how["dialog"].get("fields")))
            return None
        return run

    def request(self, op: str, raw: Any) -> Awaitable[Any]:
        a, b = expand(raw), self.b
        if op == "get":
            return b.get(sarg(a, 0))
        if op == "secret":
            return b.secret(sarg(a, 0), sarg(a, 1), sarg(a, 2), sarg(a, 3))
        if op == "dialog":
            return b.dialog(sarg(a, 0), strings(arg(a, 1)))
        if op == "permission":
            return b.permission(arg(a, 0) is True, sarg(a, 1))
        if op == "shell":
            return b.shell(sarg(a, 0), sarg(a, 1))
        if op == "cookies":
            return b.cookies(sarg(a, 0), strings(arg(a, 1)))
        if op == "power":
            return b.power(arg(a, 0) is True, arg(a, 1) is True, sarg(a, 2))
        if op == "login_get":
            return b.login_get()
        raise Failure(f"unknown request op {op}")

    def send(self, op: str, raw: Any) -> None:
        a, b = expand(raw), self.b
        if op == "emit":
            b.emit(sarg(a, 0), sarg(a, 1), arg(a, 2))
        elif op == "emit_all":
            b.emit_all(sarg(a, 0), arg(a, 1))
        elif op == "eval":
            b.eval(sarg(a, 0), sarg(a, 1))
        elif op == "title":
            b.title(sarg(a, 0), sarg(a, 1))
        elif op == "size":
            b.size(sarg(a, 0), int(arg(a, 1) or 0), int(arg(a, 2) or 0))
        elif op == "open_window":
            w = arg(a, 0) or {}
            target = w.get("target", "")
            b.open_window(lines.WindowSpec(id=w.get("id", ""), target=self.page if target == "$page" else target,
                                           title=w.get("title", ""), width=int(w.get("width", 0)),
                                           height=int(w.get("height", 0)), show=w.get("show", True)))
        elif op == "close_window":
            b.close_window(sarg(a, 0))
        elif op == "winop":
            b.winop(sarg(a, 0), sarg(a, 1))
        elif op == "menus":
            menus = [lines.Menu(title=m.get("title", ""), items=menu_items(m.get("items")), role=m.get("role", ""))
                     for m in (arg(a, 1) or [])]
            b.set_menus(sarg(a, 0), menus)
        elif op == "notify":
            b.notify(sarg(a, 0), sarg(a, 1), sarg(a, 2))
        elif op == "raw":
            b.send(sarg(a, 0))
        else:
            raise Failure(f"unknown send op {op}")

    async def step(self, st: dict[str, Any]) -> None:
        what = st.get("do")
        want = st.get("expect")
        timeout = float(st.get("timeout_ms", 20000))
        if what == "wait_report":
            key = st.get("key", "")
            if not await wait_until(lambda: key in self.reports and matches(want, self.reports[key]), timeout):
                got = shown(self.reports[key]) if key in self.reports else "nothing"
                raise Failure(f"report {key}: expected {shown(want)}, got {got}")
        elif what == "wait_call":
            m = st.get("method", "")
            if not await wait_until(lambda: self.calls.get(m, 0) > 0, timeout):
                raise Failure(f"no call of {m}")
        elif what == "request":
            aw = self.request(st.get("op", ""), st.get("args"))
            if "as" in st:
                self.refs[st["as"]] = asyncio.ensure_future(aw)
                return
            expect(want, await self.answer(aw, timeout), "answer")
        elif what == "await":
            aw = self.refs.get(st.get("ref", ""))
            if aw is None:
                raise Failure(f"no request named {st.get('ref')}")
            if st.get("gone"):
                try:
                    v = await asyncio.wait_for(aw, timeout / 1000)
                except ovalis.LauncherGone:
                    return
                except asyncio.TimeoutError:
                    raise Failure("still waiting") from None
                raise Failure(f"answered {shown(v)}")
            expect(want, await self.answer(aw, timeout), "answer")
        elif what == "send":
            self.send(st.get("op", ""), st.get("args"))
        elif what == "wait_event":
            kw = st.get("keyword")

            def find() -> bool:
                for e in self.events:
                    if e[2] or e[0] != kw:
                        continue
                    got = e[1] if isinstance(want, str) else ovalis.Event(e[0], e[1]).json
                    if matches(want, got):
                        e[2] = True
                        return True
                return False

            if not await wait_until(find, timeout):
                raise Failure(f"no {kw} line matching {shown(want)}")
        elif what == "open":
            before = len(self.opens)
            argv = [self.launcher, "--open", self.open_path, "/bin/false"]
            if isinstance(st.get("arg"), str):
                argv.append(st["arg"])
            proc = await asyncio.create_subprocess_exec(*argv)
            try:
                status = await asyncio.wait_for(proc.wait(), timeout / 1000)
            except asyncio.TimeoutError:
                proc.kill()
                raise Failure("launcher --open did not end") from None
            if status != 0:
                raise Failure(f"launcher --open ended with status {status}")
            if not await wait_until(lambda: len(self.opens) > before, timeout):
                raise Failure("no open request arrived")
            expect(want, self.opens[before], "open request")
        elif what == "trust":
            if st.get("all") is True:
                self.b.trust_all_origins()
            else:
                self.b.trust_origin(*strings(st.get("origins")))
        elif what == "sleep":
            await asyncio.sleep(float(st.get("ms", 0)) / 1000)
        elif what == "kill_launcher":
            if self.b.launcher_pid:
                os.kill(self.b.launcher_pid, signal.SIGKILL)
        elif what in ("quit", "expect_exit"):
            if what == "quit":
                self.b.quit()
            try:
                status = await asyncio.wait_for(self.b.run(), timeout / 1000)
            except asyncio.TimeoutError:
                raise Failure("the launcher did not end") from None
            if status != int(st.get("status", 0)):
                raise Failure(f"the launcher ended with status {status}, expected {st.get('status', 0)}")
            if self.b.connected:
                raise Failure("the library still counts itself connected")
        elif not st.get("optional"):
            raise Failure(f"unknown step {what}")

    async def answer(self, aw: Awaitable[Any], timeout: float) -> Any:
        try:
            return await asyncio.wait_for(aw, timeout / 1000)
        except ovalis.LauncherGone:
            raise Failure("the launcher went away") from None
        except (asyncio.TimeoutError, ovalis.RequestTimeout):
            raise Failure("no answer") from None


async def play_all(launcher: str, paths: list[str]) -> int:
    only = set(os.environ.get("OVALIS_CONFORMANCE_ONLY", "").split())
    failed = played = 0
    for path in paths:
        name = path
        try:
            with open(path, encoding="utf-8") as f:
                s = json.load(f)
            name = s.get("name", path)
            if only and name not in only:
                continue
            with open(os.path.join(os.path.dirname(path), "..", "page.html"), encoding="utf-8") as f:
                template = f.read()
            played += 1
            await Player(launcher, template, s).play()
            print(f"ok {name}", flush=True)
        except (Failure, OSError, ValueError) as e:
            failed += 1
            print(f"FAIL {name}: {e}", flush=True)
    print(f"{played - failed} of {played} scenarios passed")
    return 0 if failed == 0 and played > 0 else 1


async def bench(launcher: str, page: str, calls: int, rounds: int) -> int:
    """Figures for comparing the libraries on the same page: the time from
    start to the first answered call, the sequential round trip and a burst
    of calls, each made by the page and answered by this library."""
    script = """
T.call('bench.ready').then(async () => {
  const n = %d;
  let t = performance.now();
  for (let i = 0; i < 200; i++) await T.call('bench.echo', {i});
  const seq = (performance.now() - t) / 200;
  t = performance.now();
  await Promise.all(Array.from({length: n}, (_, i) => T.call('bench.echo', {i})));
  const burst = performance.now() - t;
  T.report('bench', {seq_ms: seq, burst_ms: burst, calls: n});
});
""" % calls
    with open(page, encoding="utf-8") as f:
        template = f.read()
    results = []
    for _ in range(rounds):
        folder = tempfile.mkdtemp(prefix="ovalis-bench-")
        path = os.path.join(folder, "page.html")
        with open(path, "w", encoding="utf-8") as f:
            f.write(template.replace("<!--SCENARIO-->", "<script>" + script + "</script>", 1))
        b = ovalis.Backend()
        done: asyncio.Future[Any] = asyncio.get_running_loop().create_future()
        first: list[float] = []
        t0 = time.monotonic()

        def ready(call: ovalis.Call) -> None:
            first.append(time.monotonic() - t0)

        b.handle("bench.ready", ready)
        b.handle("bench.echo", lambda c: c.params)
        b.handle("conformance.report", lambda c: done.done() or done.set_result(c.param("value")))
        await b.start(ovalis.LaunchOptions(page=path, launcher=launcher, title="bench", width=400, height=300))
        r = await asyncio.wait_for(done, 120)
        r["first_call_ms"] = first[0] * 1000
        results.append(r)
        await b.close()
        shutil.rmtree(folder, ignore_errors=True)
    best = {k: min(r[k] for r in results) for k in ("seq_ms", "burst_ms", "first_call_ms")}
    best["calls"] = calls
    best["calls_per_s"] = calls / (best["burst_ms"] / 1000)
    print(json.dumps({"library": "python", **best}))
    return 0


def main(argv: list[str]) -> int:
    if len(argv) >= 3 and argv[0] == "--bench":
        opts = {"--calls": 5000, "--rounds": 3}
        rest = argv[3:]
        for i in range(0, len(rest) - 1, 2):
            opts[rest[i]] = int(rest[i + 1])
        return asyncio.run(bench(argv[1], argv[2], opts["--calls"], opts["--rounds"]))
    if len(argv) < 2:
        print("usage: driver.py <launcher> <scenario.json>...\n"
              "       driver.py --bench <launcher> <page.html> [--calls N] [--rounds R]", file=sys.stderr)
        return 2
    return asyncio.run(play_all(argv[0], argv[1:]))


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))

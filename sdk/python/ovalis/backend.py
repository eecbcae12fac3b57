"""The backend's end of the launcher link, on asyncio.

:class:`Backend` makes a private socket, starts the launcher on a page,
accepts its connection, and then

- routes page calls ("CALL") to handlers registered by method name;
- matches answers ("GOT <id>") to the requests and queries that asked for
  them, as awaitables with time-outs;
- hands every event line to handlers registered by keyword;
- offers one typed method per command family (:mod:`ovalis.lines` builds the
  lines).

Everything runs on the event loop that called :meth:`Backend.start`.
"""

from __future__ import annotations

import asyncio
import errno
import functools
import inspect
import os
import shutil
import signal
import socket
import sys
import tempfile
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Awaitable, Callable, Iterable

from . import lines as line
from .blobs import BytesLike, Inbox, Outbox, random_id
from .wire import LineFramer, emit_line, emit_script, event_json, parse_call, parse_got, ret_line

if TYPE_CHECKING:
    from .config import AppConfig

__all__ = [
    "Backend", "Call", "CallError", "Event", "LaunchError", "LaunchOptions", "LauncherGone",
    "RequestTimeout", "open_request", "forward_open",
]

#: A JSON value as the json module reads and writes it.
JSON = Any

# An open request is one short line; anything longer is not one.
_MAX_OPEN_REQUEST = 64 * 1024


class LaunchError(Exception):
    """The socket could not be made or the launcher could not be started."""


class LauncherGone(ConnectionError):
    """The launcher went away before a request was answered."""


class RequestTimeout(TimeoutError):
    """A request got no answer within its time-out."""


class CallError(Exception):
    """Raised by a call handler to reject the page's promise with any JSON
    value; other exceptions reject it with ``{"message": str(error)}``."""

    def __init__(self, value: JSON) -> None:
        super().__init__(value.get("message", value) if isinstance(value, dict) else value)
        self.value = value


@dataclass
class LaunchOptions:
    page: str  # absolute file path or http(s) URL
    launcher: str = "launcher"  # a path, or a name looked up on PATH
    title: str = ""  # window title and program name
    width: int = 0  # content size; 0: the launcher's default
    height: int = 0
    version: str = ""
    # Extra environment for the launcher ("OVALIS_APP_ID", "OVALIS_DEBUG", ...).
    env: dict[str, str] = field(default_factory=dict)
    connect_timeout: float = 30.0


@dataclass
class Event:
    """One event line: its keyword and the text after it."""

    keyword: str
    text: str

    @property
    def words(self) -> list[str]:
        return self.text.split(" ")

    @functools.cached_property
    def json(self) -> JSON:
        """The JSON the line carries (from its first '{' or '[' on), or None."""
        return event_json(self.text)


class Call:
    """One page call, with the means to answer it now or later. A handler
    usually just returns its answer or raises; the methods here are for
    answering later or differently."""

    __slots__ = ("id", "window", "origin", "method", "params", "answered", "_backend")

    def __init__(self, backend: Backend, call_id: str, window: str, origin: str, method: str,
                 params: JSON) -> None:
        self.id = call_id  # "<window>:<seq>"
        self.window = window
        self.origin = origin
        self.method = method
        self.params = params
        self.answered = False
        self._backend = backend

    def param(self, key: str, default: JSON = None) -> JSON:
        """A member of the params object, or default."""
        if isinstance(self.params, dict):
            return self.params.get(key, default)
        return default

    def resolve(self, value: JSON = None) -> None:
        """Answers the call. Bytes (bytes, bytearray, memoryview) reach the
        page's fetchBytes: they are written to a file the launcher takes
        over, and the answer names it."""
        if isinstance(value, BytesLike):
            if not self.answered:
                self.answered = True
                self._backend._offer(self.id, value)
            return
        self._answer(True, value)

    def resolve_file(self, path: str | os.PathLike[str]) -> None:
        """Answers with the bytes of a file the backend already has, without
        a copy: the launcher opens it where it is when the answer goes out,
        and the file stays the backend's. Rejects with {"message": "cannot
        offer <path>: <reason>"} when it is not a readable regular file."""
        if self.answered:
            return
        self.answered = True
        self._backend._offer_file(self.id, os.fspath(path))

    def reject(self, value: JSON) -> None:
        self._answer(False, value)

    def fail(self, message: str) -> None:
        """Rejects with {"message": message}."""
        self._answer(False, {"message": message})

    def dialog(self, op: line.DialogOp | str, fields: list[str]) -> None:
        """Answers with a native dialog; the page's promise gets its result."""
        self.answered = True
        self._backend.send(line.dlg(self.id, op, fields))

    def find(self, text: str, forward: bool = True, match_case: bool = False) -> None:
        """Answers with a find in the page; the promise gets the matches."""
        self.answered = True
        self._backend.send(line.find(self.id, text, forward, match_case))

    def stop_find(self) -> None:
        self.answered = True
        self._backend.send(line.stopfind(self.id))

    def _answer(self, ok: bool, value: JSON) -> None:
        if self.answered:
            return
        self.answered = True
        try:
            text = ret_line(self.id, ok, value)
        except (TypeError, ValueError, RecursionError) as e:
            # The page must hear something: a promise nobody settles hangs.
            print(f"ovalis: the answer to {self.method} is not JSON: {e}", file=sys.stderr)
            text = ret_line(self.id, False, {"message": f"the answer is not JSON: {e}"})
        self._backend.send(text)


CallHandler = Callable[[Call], Any]
EventHandler = Callable[[Event], Any]
OpenHandler = Callable[[JSON], Any]


def open_request(arg: str | None) -> dict[str, JSON]:
    """The request ``launcher --open <socket> <exe> [arg]`` sends for arg:
    {"activate":true} for none, {"url":...} for a URL that is not a file, and
    {"paths":[...]} for a path or a file:// URI (made a path)."""
    if not arg:
        return {"activate": True}
    is_file = arg.startswith("file://")
    if not is_file and "://" in arg and not os.path.lexists(arg):
        return {"url": arg}
    path = arg
    if is_file:
        from urllib.parse import unquote, urlsplit

        parts = urlsplit(arg)
        if parts.netloc in ("", "localhost") and not parts.query and not parts.fragment:
            path = unquote(parts.path)
    return {"paths": [path]}


def forward_open(path: str, request: JSON) -> bool:
    """Hands an open request to the instance listening on path; True when
    it took the whole request (this process can then end)."""
    from .wire import json_dump

    data = (json_dump(request) + "\n").encode()
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(path)
            s.sendall(data)
        return True
    except OSError:
        return False


class _WireProtocol(asyncio.Protocol):
    """The launcher's connection, or a peer that is not the launcher."""

    def __init__(self, backend: Backend) -> None:
        self.b = backend
        self.transport: asyncio.Transport | None = None
        self.framer = LineFramer()

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        assert isinstance(transport, asyncio.Transport)
        if self.b._transport is not None or self.b._ended:
            transport.close()  # one wire link only
            return
        self.transport = transport
        self.b._wire_connected(transport)

    def data_received(self, data: bytes) -> None:
        for text in self.framer.feed(data):
            self.b._dispatch(text)

    def connection_lost(self, exc: Exception | None) -> None:
        if self.transport is not None:
            self.b._wire_lost()


class _OpenProtocol(asyncio.Protocol):
    """One `launcher --open` client: a single line of JSON."""

    def __init__(self, backend: Backend, handler: OpenHandler) -> None:
        self.b = backend
        self.handler = handler
        self.buf = bytearray()
        self.transport: asyncio.BaseTransport | None = None
        self.done = False

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        self.transport = transport
        sock = transport.get_extra_info("socket")
        # Requests from other users are not ours to take.
        try:
            creds = sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12)
            uid = int.from_bytes(creds[4:8], sys.byteorder)
        except (OSError, AttributeError):
            uid = -1
        if uid != os.getuid():
            self.done = True
            transport.close()

    def data_received(self, data: bytes) -> None:
        if self.done:
            return
        self.buf += data
        if b"\n" in self.buf or len(self.buf) >= _MAX_OPEN_REQUEST:
            self._finish()

    def eof_received(self) -> bool | None:
        self._finish()
        return None

    def connection_lost(self, exc: Exception | None) -> None:
        self._finish()

    def _finish(self) -> None:
        if self.done:
            return
        self.done = True
        if self.transport is not None:
            self.transport.close()
        text = bytes(self.buf).split(b"\n", 1)[0]
        if b"\n" not in self.buf and len(self.buf) >= _MAX_OPEN_REQUEST:
            text = b""
        import json

        try:
            req = json.loads(text.decode("utf-8"))
        except (ValueError, UnicodeDecodeError, RecursionError):
            if text:
                print("ovalis: ignored a malformed open request", file=sys.stderr)
            return
        if isinstance(req, dict):
            self.b._run_handler(self.handler, req)


class Backend:
    """The backend's end of the launcher link. See the module's text."""

    def __init__(self, *, trace: Callable[[str, str], None] | None = None) -> None:
        #: Every line in both directions, for logging: direction "<" or ">".
        self.trace = trace
        #: Runs once the launcher has connected (lines may be sent from then on).
        self.on_connected: Callable[[], Any] | None = None
        #: Open requests of an application started by start_app(); the main
        #: window has been shown and the page has had its "open-url" or
        #: "open-files" event when this runs.
        self.on_open: OpenHandler | None = None
        self._loop: asyncio.AbstractEventLoop | None = None
        self._server: asyncio.AbstractServer | None = None
        self._open_server: asyncio.AbstractServer | None = None
        self._open_path = ""
        self._transport: asyncio.Transport | None = None
        self._proc: asyncio.subprocess.Process | None = None
        self._status: int | None = None
        self._ended = False
        self._closed: asyncio.Future[int] | None = None
        self._connected_evt: asyncio.Event | None = None
        self._dir = ""
        self._sock_path = ""
        self._next_id = 0
        self._pending: dict[str, asyncio.Future[JSON]] = {}
        self._line_handlers: dict[str, list[EventHandler]] = {}
        self._call_handlers: dict[str, CallHandler] = {}
        self._events: set[str] = set()
        self._quit_sent = False
        self._timers: list[asyncio.TimerHandle] = []
        self._tasks: set[asyncio.Task[Any]] = set()
        self._trusted: list[str] = []
        self._trust_all = False
        self._refused: set[str] = set()
        self._page_origin = ""
        self._config: AppConfig | None = None
        self._page_ready = False
        self._queued_opens: list[JSON] = []
        self._inbox = Inbox()
        self._outbox = Outbox()

    # ---- life -------------------------------------------------------------

    async def start(self, options: LaunchOptions) -> None:
        """Makes the socket and starts the launcher; raises LaunchError when
        either fails. Returns once the launcher has connected."""
        self._loop = asyncio.get_running_loop()
        self._closed = self._loop.create_future()
        self._connected_evt = asyncio.Event()
        self._page_origin = _origin_of(options.page)
        # A private folder (mode 0700): only this user can reach the socket.
        self._dir = tempfile.mkdtemp(prefix="ovalis-")
        self._sock_path = os.path.join(self._dir, "backend.sock")
        try:
            self._server = await self._loop.create_unix_server(lambda: _WireProtocol(self), self._sock_path)
        except OSError as e:
            self._cleanup_files()
            raise LaunchError(f"cannot listen on {self._sock_path}: {e.strerror}") from e
        exe = options.launcher
        if "/" not in exe:
            found = shutil.which(exe)
            if not found:
                await self._close_servers()
                raise LaunchError(f"launcher not found on PATH: {exe}")
            exe = found
        args = [exe, options.page, self._sock_path]
        if options.title or options.width > 0 or options.version:
            args.append(options.title or "ovalis")
        if options.width > 0 and options.height > 0:
            args.append(f"{int(options.width)}x{int(options.height)}")
        elif options.version:
            args.append("")
        if options.version:
            args.append(options.version)
        env = dict(os.environ)
        env.update(options.env)
        try:
            # No shell: paths with blanks or quotes reach the launcher as they are.
            self._proc = await asyncio.create_subprocess_exec(*args, env=env, stdin=asyncio.subprocess.DEVNULL)
        except OSError as e:
            await self._close_servers()
            raise LaunchError(f"cannot start {exe}: {e.strerror or e}") from e
        self._spawn(self._watch_process())
        waiter: asyncio.Future[Any] = asyncio.ensure_future(self._connected_evt.wait())
        closed: asyncio.Future[Any] = self._closed
        done, _ = await asyncio.wait({waiter, closed}, timeout=options.connect_timeout,
                                     return_when=asyncio.FIRST_COMPLETED)
        if waiter not in done:
            waiter.cancel()
            if not self._closed.done():
                print("ovalis: the launcher did not connect in time; stopping it", file=sys.stderr)
                self._signal(signal.SIGTERM)
            status = await asyncio.shield(self._closed)
            raise LaunchError(f"the launcher did not connect (exit status {status})")

    async def run(self) -> int:
        """Waits until the launcher has ended; returns its exit status
        (128 + signal number when a signal ended it)."""
        if self._closed is None:
            raise RuntimeError("the backend was not started")
        return await asyncio.shield(self._closed)

    def quit(self, grace: float = 5.0) -> None:
        """Asks the launcher to quit; stops it with SIGTERM when it has not
        gone after grace seconds. Asked twice, it stops at once."""
        if self._ended or self._proc is None:
            return
        if self._quit_sent:
            self._signal(signal.SIGTERM)
            return
        self._quit_sent = True
        if self._transport is not None:
            self.send(line.quit())
        else:
            self._signal(signal.SIGTERM)

        def late() -> None:
            if not self._ended:
                print("ovalis: the launcher did not quit in time; terminating it", file=sys.stderr)
                self._signal(signal.SIGTERM)

        assert self._loop is not None
        self._timers.append(self._loop.call_later(grace, late))

    @property
    def connected(self) -> bool:
        return self._transport is not None

    @property
    def launcher_pid(self) -> int | None:
        return self._proc.pid if self._proc else None

    @property
    def exit_status(self) -> int | None:
        return self._status if self._ended else None

    async def __aenter__(self) -> Backend:
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.close()

    async def close(self) -> None:
        """Ends the launcher if it still runs (QUIT, then SIGTERM) and
        releases the socket."""
        if self._proc is not None and not self._ended:
            self.quit(grace=2.0)
            try:
                await asyncio.wait_for(self.run(), 5.0)
            except asyncio.TimeoutError:
                self._signal(signal.SIGKILL)
                await self.run()
        await self._close_servers()

    # ---- lines ------------------------------------------------------------

    def send(self, text: str | Iterable[str]) -> None:
        """Sends one line, or each line of a list; lines holding a raw line
        break are refused (they would be two commands), empty ones skipped."""
        if not isinstance(text, str):
            for t in text:
                self.send(t)
            return
        if not text or self._transport is None:
            return
        if "\n" in text or "\r" in text:
            print("ovalis: refusing to send a line with a raw line break", file=sys.stderr)
            return
        if self.trace:
            self.trace(">", text)
        self._transport.write(text.encode("utf-8", "surrogateescape") + b"\n")

    def on(self, keyword: str, handler: EventHandler) -> None:
        """Event lines by keyword: the first word of the line ("MENU", "NAV",
        "SYS", "DOWNLOAD", ...). Several handlers may share a keyword; async
        handlers run as tasks."""
        self._line_handlers.setdefault(keyword, []).append(handler)

    # ---- page calls -------------------------------------------------------

    def handle(self, method: str, handler: CallHandler) -> None:
        """Routes page calls of one method to handler(call). Its return value
        (awaited when it is awaitable) resolves the page's promise; an
        exception rejects it with {"message": str(error)} (CallError with
        its value). A handler that answered through the Call itself (a
        dialog, say) leaves the answer alone."""
        self._call_handlers[method] = handler

    def route(self, method: str) -> Callable[[CallHandler], CallHandler]:
        """Decorator form of handle()."""
        def register(fn: CallHandler) -> CallHandler:
            self.handle(method, fn)
            return fn
        return register

    def declare_events(self, *names: str) -> None:
        """Events the pages may listen to, for the capability probe."""
        self._events.update(names)

    def trust_origin(self, *patterns: str) -> None:
        """Page calls are accepted from the application's own pages (file://
        pages and the origin of a page given as a URL) and, for applications
        started from ovalis.json, the patterns granted "calls"; these origin
        patterns ("*" matches any run of characters) are accepted too."""
        self._trusted.extend(patterns)

    def trust_all_origins(self) -> None:
        """Accepts page calls from every origin, third-party pages included:
        for applications that never show anything but their own pages."""
        self._trust_all = True

    def origin_trusted(self, origin: str) -> bool:
        if self._trust_all or origin == "file://" or (self._page_origin and origin == self._page_origin):
            return True
        if self._config is not None and self._config.calls_allowed(origin):
            return True
        from .config import origin_glob

        return any(origin_glob(p, origin) for p in self._trusted)

    def emit(self, window: str, event: str, data: JSON = None) -> None:
        """Delivers {event, data} to the page of a window ("main" or an id)."""
        text = emit_line(window, event, data)
        if text:
            self.send(text)

    def emit_all(self, event: str, data: JSON = None) -> None:
        self.send(line.eval_all(emit_script(event, data)))

    # ---- requests ---------------------------------------------------------

    def request(self, make_line: Callable[[str], str], timeout: float | None = 30.0) -> Awaitable[JSON]:
        """A request with a fresh id: make_line receives the id. The line is
        sent at once; awaiting the result gives the GOT answer, or raises
        LauncherGone or RequestTimeout. Nobody has to await it: a request
        sent for its effect alone leaves no warning behind."""
        assert self._loop is not None, "the backend was not started"
        fut: asyncio.Future[JSON] = self._loop.create_future()
        fut.add_done_callback(_retrieved)
        if self._transport is None:
            fut.set_exception(LauncherGone("the launcher is not connected"))
            return fut
        # Digits only: the same id then also works as "q<id>" for dialogs.
        self._next_id += 1
        rid = str(self._next_id)
        self._pending[rid] = fut
        self.send(make_line(rid))
        if timeout is not None:
            timer = self._loop.call_later(timeout, self._expire, rid, timeout)
            fut.add_done_callback(lambda _: timer.cancel())
        return fut

    def _expire(self, rid: str, timeout: float) -> None:
        fut = self._pending.pop(rid, None)
        if fut is not None and not fut.done():
            fut.set_exception(RequestTimeout(f"no answer to request {rid} in {timeout} s"))

    def get(self, key: str, timeout: float | None = 30.0) -> Awaitable[JSON]:
        """A query: "windows", "win:<id>", "screens", "clipboard", ..."""
        return self.request(lambda i: line.get(i, key), timeout)

    # Windows.
    def title(self, window: str, text: str) -> None:
        self.send(line.title(window, text))

    def size(self, window: str, width: int, height: int) -> None:
        self.send(line.size(window, width, height))

    def winop(self, window: str, op: str) -> None:
        self.send(line.winop(window, op))

    def open_window(self, spec: line.WindowSpec) -> None:
        self.send(line.winopen(spec))

    def close_window(self, window_id: str) -> None:
        self.send(line.winclose(window_id))

    def chrome(self, window: str, c: line.Chrome) -> None:
        self.send(line.chrome(window, c))

    def drag_window(self, window: str = "main") -> None:
        self.send(line.dragwin(window))

    def resize_window(self, window: str, edge: line.Edge | str) -> None:
        self.send(line.resizewin(window, edge))

    def eval(self, window: str, script: str) -> None:
        self.send(line.eval(window, script))

    def eval_all(self, script: str) -> None:
        self.send(line.eval_all(script))

    def reload(self) -> None:
        self.send(line.reload())

    # Menus and tray.
    def set_menus(self, window: str, menus: list[line.Menu]) -> None:
        self.send(line.menubar(window, menus))

    def reset_menus(self, window: str) -> None:
        self.send(line.menu_reset(window))

    def update_menu(self, window: str, item_id: str, label: str | None = None,
                    checked: bool | None = None, enabled: bool | None = None) -> None:
        self.send(line.menu_update(window, item_id, label, checked, enabled))

    def set_tray(self, tray: line.Tray) -> None:
        self.send(line.tray(tray))

    def remove_tray(self) -> None:
        self.send(line.tray_remove())

    def set_context_menu(self, items: list[line.MenuItem]) -> None:
        self.send(line.context_menu(items))

    def clear_context_menu(self) -> None:
        self.send(line.context_clear())

    def suppress_context_menu(self, on: bool) -> None:
        self.send(line.context_suppress(on))

    # Dialogs the backend runs for itself (pages get theirs with Call.dialog).
    def dialog(self, op: line.DialogOp | str, fields: list[str], timeout: float | None = None) -> Awaitable[JSON]:
        return self.request(lambda i: line.dlg("q" + i, op, fields), timeout)

    # Web content.
    def nav_reply(self, nav_id: str, verdict: str) -> None:
        self.send(line.navr(nav_id, verdict))

    def popup_reply(self, q_id: str, verdict: str) -> None:
        self.send(line.popupr(q_id, verdict))

    def print(self, window: str = "main") -> None:
        self.send(line.print_(window))

    def pdf(self, window: str, path: str, timeout: float | None = 60.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.pdf(window, i, path), timeout)

    def cookies(self, op: str, fields: list[str] | None = None, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.cookies(i, op, fields), timeout)

    def permission(self, request: bool, name: str, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.permission(i, request, name), timeout)

    # Desktop.
    def clip_write(self, data: line.ClipData) -> None:
        self.send(line.clipwrite(data))

    def clip_watch(self, interval_ms: int) -> None:
        self.send(line.clipwatch(interval_ms))

    def notify(self, notification_id: str, title: str, body: str, subtitle: str = "", sound: bool = False,
               actions: list[line.NotifyAction] | None = None) -> None:
        self.send(line.notify(notification_id, title, body, subtitle, sound, actions))

    def power(self, on: bool, display: bool = False, reason: str = "", timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.power(i, on, display, reason), timeout)

    def secret(self, op: str, service: str, account: str, value: str = "",
               timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.secret(i, op, service, account, value), timeout)

    def shell(self, op: str, target: str, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.shell(i, op, target), timeout)

    def login_get(self, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(line.login_get, timeout)

    def login_set(self, enabled: bool, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.login_set(i, enabled), timeout)

    def badge(self, count: int | None) -> None:
        self.send(line.badge(count))

    def progress(self, value: float | None) -> None:
        self.send(line.progress(value))

    def attention(self) -> None:
        self.send(line.attention())

    def app_icon(self, path: str) -> None:
        self.send(line.appicon(path))

    # Audio.
    def audio_filters(self, chain: list[line.Filter]) -> None:
        self.send(line.audio_filters(chain))

    def audio_filter_set(self, index: int, freq: float, q: float, gain: float) -> None:
        self.send(line.audio_filter_set(index, freq, q, gain))

    def audio_balance(self, value: float) -> None:
        self.send(line.audio_balance(value))

    def sampler_load(self, name: str, path: str, timeout: float | None = 60.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.sampler_load(i, name, path), timeout)

    def sampler_play(self, voice: int, name: str, gain: float = 1, pan: float = 0, rate: float = 1,
                     loop: bool = False) -> None:
        self.send(line.sampler_play(voice, name, gain, pan, rate, loop))

    def sampler_set(self, voice: int, gain: float | None = None, pan: float | None = None,
                    rate: float | None = None) -> None:
        self.send(line.sampler_set(voice, gain, pan, rate))

    def sampler_stop(self, voice: int) -> None:
        self.send(line.sampler_stop(voice))

    def sampler_stop_all(self) -> None:
        self.send(line.sampler_stop_all())

    def sampler_master(self, value: float) -> None:
        self.send(line.sampler_master(value))

    def sampler_unload(self, name: str) -> None:
        self.send(line.sampler_unload(name))

    def audio_tap(self, app_scope: bool = True, interval_ms: int = 80,
                  timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.audiotap(i, app_scope, interval_ms), timeout)

    def audio_tap_stop(self) -> None:
        self.send(line.audiotap_stop())

    def sound(self, name_or_path: str = "", timeout: float | None = 60.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.sound(i, name_or_path), timeout)

    def say(self, text: str, voice: str = "", rate: float = 0, timeout: float | None = None) -> Awaitable[JSON]:
        """Resolves when the speech has ended."""
        return self.request(lambda i: line.say(i, text, voice, rate), timeout)

    def stop_speaking(self) -> None:
        self.send(line.saystop())

    def voices(self, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(line.voices, timeout)

    def now_playing(self, np: line.NowPlaying) -> None:
        self.send(line.nowplaying(np))

    def now_playing_clear(self) -> None:
        self.send(line.nowplaying_clear())

    # Input.
    def hotkey(self, hotkey_id: str, combo: str, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.hkreg(i, hotkey_id, combo), timeout)

    def hotkey_remove(self, hotkey_id: str) -> None:
        self.send(line.hkunreg(hotkey_id))

    def keystroke(self, combo: str, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.keystroke(i, combo), timeout)

    def mouse_track(self, restore_token: str = "", timeout: float | None = None) -> Awaitable[JSON]:
        """May ask the user through a portal, so it waits without a limit by
        default."""
        return self.request(lambda i: line.mousetrack(i, restore_token), timeout)

    def mouse_track_stop(self) -> None:
        self.send(line.mousetrack_stop())

    # Capture and files.
    def capture(self, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(line.capture, timeout)

    def pick_color(self, timeout: float | None = None) -> Awaitable[JSON]:
        return self.request(line.pickcolor, timeout)

    def thumbnail(self, path: str, size: int = 256, timeout: float | None = 30.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.thumb(i, path, size), timeout)

    def search(self, query: str, timeout: float | None = 60.0) -> Awaitable[JSON]:
        return self.request(lambda i: line.spotlight(i, query), timeout)

    # ---- open requests ----------------------------------------------------

    async def listen_for_open(self, path: str, handler: OpenHandler) -> None:
        """Single instance: listens on path (a fixed socket, usually under
        $XDG_RUNTIME_DIR, named in the desktop entry's `launcher --open`
        line) for the requests that `launcher --open` and forward_open()
        send: {"activate":true}, {"url":"..."} or {"paths":["..."]}. Raises
        LaunchError when another instance already listens there; a stale
        socket file left by a dead instance is replaced."""
        loop = asyncio.get_running_loop()
        self._loop = self._loop or loop
        if len(os.fsencode(path)) >= 108 or not path:
            raise LaunchError(f"open socket path is empty or too long: {path}")
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.connect(path)
            raise LaunchError(f"another instance is listening on {path}")
        except OSError:
            pass
        # Nobody answers there: whatever socket file is left belongs to an
        # instance that has died.
        try:
            import stat

            if stat.S_ISSOCK(os.lstat(path).st_mode):
                os.unlink(path)
        except OSError:
            pass
        try:
            self._open_server = await loop.create_unix_server(lambda: _OpenProtocol(self, handler), path)
        except OSError as e:
            raise LaunchError(f"cannot listen on {path}: {e.strerror}") from e
        # Only this user may hand the instance files and URLs to open.
        os.chmod(path, 0o600)
        self._open_path = path

    # ---- applications described by ovalis.json ----------------------------

    async def start_app(self, config: AppConfig) -> bool:
        """Starts the launcher as the configuration says and listens on the
        application's open socket. When another instance already listens
        there it is asked to come to the front and False is returned: this
        process should then end with status 0."""
        sock = config.socket_path()
        if forward_open(sock, {"activate": True}):
            return False
        await self.listen_for_open(sock, self._open_app_request)
        self._config = config
        try:
            await self.start(config.launch_options())
        except LaunchError:
            self._config = None
            await self._close_servers()
            raise
        return True

    async def run_app(self, folder: str | None = None) -> int:
        """The whole life of an application in one call: reads ovalis.json
        (from folder, else OVALIS_APP_DIR, else the current folder), starts
        the launcher and runs until it ends. Errors go to standard error;
        returns the exit status for the program (2 for a bad
        configuration). SIGINT and SIGTERM ask the launcher to quit."""
        from .config import ConfigError, load_app_config

        try:
            config = load_app_config(folder)
        except ConfigError as e:
            print(e, file=sys.stderr)
            return 2
        try:
            if not await self.start_app(config):
                return 0
        except LaunchError as e:
            print(f"ovalis: {e}", file=sys.stderr)
            return 1
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGINT, signal.SIGTERM):
            try:
                loop.add_signal_handler(sig, self.quit)
            except (NotImplementedError, RuntimeError):
                pass
        try:
            return await self.run()
        finally:
            for sig in (signal.SIGINT, signal.SIGTERM):
                try:
                    loop.remove_signal_handler(sig)
                except (NotImplementedError, RuntimeError):
                    pass
            await self._close_servers()

    @property
    def config(self) -> AppConfig | None:
        return self._config

    def _open_app_request(self, req: JSON) -> None:
        url, paths, activate = req.get("url"), req.get("paths"), req.get("activate")
        ok = isinstance(url, str) or activate is True
        if isinstance(paths, list):
            ok = all(isinstance(p, str) for p in paths)
        if not ok:
            return
        # Before its script is there the page would miss the event; it says
        # hello when it is ready.
        if not self._page_ready:
            self._queued_opens.append(req)
            return
        self._deliver_open(req)

    def _deliver_open(self, req: JSON) -> None:
        self.winop("main", "show")
        if isinstance(req.get("url"), str):
            self.emit("main", "open-url", {"url": req["url"]})
        elif isinstance(req.get("paths"), list):
            self.emit("main", "open-files", {"paths": req["paths"]})
        if self.on_open:
            self._run_handler(self.on_open, req)

    # ---- inside -----------------------------------------------------------

    def _spawn(self, coro: Awaitable[Any]) -> None:
        task = asyncio.ensure_future(coro)
        self._tasks.add(task)
        task.add_done_callback(self._task_done)

    def _task_done(self, task: asyncio.Task[Any]) -> None:
        self._tasks.discard(task)
        if not task.cancelled() and task.exception() is not None:
            exc = task.exception()
            print(f"ovalis: a handler failed: {exc!r}", file=sys.stderr)

    def _run_handler(self, fn: Callable[..., Any], *args: Any) -> None:
        try:
            result = fn(*args)
        except Exception as e:  # a handler's fault must not end the backend
            print(f"ovalis: a handler failed: {e!r}", file=sys.stderr)
            return
        if inspect.isawaitable(result):
            self._spawn(result)

    def _signal(self, sig: int) -> None:
        if self._proc is not None and not self._ended:
            try:
                self._proc.send_signal(sig)
            except ProcessLookupError:
                pass

    def _wire_connected(self, transport: asyncio.Transport) -> None:
        self._transport = transport
        # The connection is made; nobody else needs the listening end or its path.
        if self._server is not None:
            self._server.close()
            self._server = None
        self._cleanup_files()
        assert self._connected_evt is not None
        self._connected_evt.set()
        if self.on_connected:
            self._run_handler(self.on_connected)

    def _wire_lost(self) -> None:
        self._transport = None
        # Nothing will answer any more: waiters stop waiting.
        pending, self._pending = self._pending, {}
        for fut in pending.values():
            if not fut.done():
                fut.set_exception(LauncherGone("the launcher went away"))
        self._maybe_closed()

    async def _watch_process(self) -> None:
        assert self._proc is not None
        code = await self._proc.wait()
        self._status = 128 - code if code < 0 else code
        self._ended = True
        for t in self._timers:
            t.cancel()
        self._timers.clear()
        if self._transport is None:
            self._wire_lost()
        # Otherwise the lines it wrote before it ended are still in the
        # socket; connection_lost comes after them.

    def _maybe_closed(self) -> None:
        if self._ended and self._transport is None and self._closed is not None and not self._closed.done():
            assert self._status is not None
            self._closed.set_result(self._status)
            self._cleanup_files()
            # Nobody will take the offers left, nor name the uploads.
            self._inbox.clear()
            self._outbox.clear()
            if self._open_server is not None:
                self._spawn(self._close_servers())

    async def _close_servers(self) -> None:
        for s in (self._server, self._open_server):
            if s is not None:
                s.close()
        self._server = None
        if self._open_server is not None:
            self._open_server = None
            if self._open_path:
                try:
                    os.unlink(self._open_path)
                except OSError:
                    pass
                self._open_path = ""
        self._cleanup_files()
        self._inbox.clear()
        self._outbox.clear()

    def _cleanup_files(self) -> None:
        if self._sock_path:
            try:
                os.unlink(self._sock_path)
            except OSError:
                pass
            self._sock_path = ""
        if self._dir:
            try:
                os.rmdir(self._dir)
            except OSError:
                pass
            self._dir = ""

    def _dispatch(self, text: str) -> None:
        if self.trace:
            self.trace("<", text)
        kw, _, rest = text.partition(" ")
        if kw == "CALL":
            self._on_call(rest)
            return
        if kw == "BLOB":
            self._inbox.announce(rest)
            return
        if kw == "GOT":
            got = parse_got(rest)
            if got is None:
                return
            fut = self._pending.pop(got.id, None)
            if fut is not None:
                if not fut.done():
                    fut.set_result(got.value)
                return
        handlers = self._line_handlers.get(kw)
        if not handlers:
            return
        ev = Event(kw, rest)
        for h in list(handlers):
            self._run_handler(h, ev)

    def _on_call(self, rest: str) -> None:
        parsed = parse_call(rest)
        if parsed is None:
            return
        c = Call(self, parsed.call_id, parsed.window, parsed.origin, parsed.method, parsed.params)
        if parsed.error:
            c.fail(parsed.error)
            return
        refs = "$blob" in rest
        if not self.origin_trusted(c.origin):
            if refs:
                self._inbox.discard(c.params)
            if c.origin not in self._refused:
                self._refused.add(c.origin)
                print(f"ovalis: refused page calls from origin {c.origin} (first: {c.method} from window "
                      f'{c.window}); trust it with Backend.trust_origin or ovalis.json "api".origins',
                      file=sys.stderr)
            hint = ' (allow "calls" in ovalis.json "api".origins)' if self._config is not None else ""
            c.fail(f"origin {c.origin} may not call the backend{hint}")
            return
        handler = self._call_handlers.get(c.method)
        if refs:
            # Bytes are read only for a handler; a call nobody handles only drops them.
            if handler is None:
                self._inbox.discard(c.params)
            else:
                self._spawn(self._load_then_route(c, handler, self._inbox.claim(c.params)))
                return
        self._route(c, handler)

    async def _load_then_route(self, c: Call, handler: CallHandler,
                               load: Callable[[], tuple[JSON, str | None]]) -> None:
        # Big uploads are read off the loop, so other calls go on meanwhile.
        try:
            c.params, bad = await asyncio.get_running_loop().run_in_executor(None, load)
        except Exception as e:  # MemoryError and the like: the page still hears
            c.fail(str(e) or type(e).__name__)
            return
        if bad is not None:
            c.fail(f"no such blob: {bad}")
            return
        self._route(c, handler)

    def _route(self, c: Call, handler: CallHandler | None) -> None:
        if c.method == "client.hello" and c.window == "main" and not self._page_ready:
            self._page_ready = True
            waiting, self._queued_opens = self._queued_opens, []
            # Answer the hello first, then the requests that waited for the page.
            if handler is not None:
                self._invoke(handler, c)
            else:
                c.resolve({"ok": True})
            for r in waiting:
                self._deliver_open(r)
            return
        if handler is not None:
            self._invoke(handler, c)
        elif c.method == "client.capabilities":
            c.resolve(self._capabilities(c))
        elif c.method == "client.hello":
            c.resolve({"ok": True})
        else:
            c.fail("unknown method " + c.method)

    def _invoke(self, handler: CallHandler, c: Call) -> None:
        try:
            result = handler(c)
        except CallError as e:
            c.reject(e.value)
            return
        except Exception as e:  # the page gets the error, the backend goes on
            c.fail(str(e) or type(e).__name__)
            return
        if inspect.isawaitable(result):
            self._spawn(_settle(c, result))
        elif not c.answered:
            c.resolve(result)

    def _offer(self, call_id: str, data: bytes | bytearray | memoryview) -> None:
        """Offers bytes to the page: the file is written off the loop, then
        its BLOB line goes out before the answer that names it."""
        if self._ended and self._transport is None:
            return
        self._spawn(self._write_offer(call_id, data))

    def _offer_file(self, call_id: str, path: str) -> None:
        import stat

        full = os.path.abspath(path)
        why = ""
        try:
            st = os.stat(full)
        except OSError as e:
            why = e.strerror or str(e)
        else:
            if not stat.S_ISREG(st.st_mode):
                why = "not a regular file"
            elif not os.access(full, os.R_OK):
                why = os.strerror(errno.EACCES)
        if why:
            self.send(ret_line(call_id, False, {"message": f"cannot offer {path}: {why}"}))
            return
        rid = random_id()
        self.send(line.blob(rid, "keep", full))
        self.send(ret_line(call_id, True, {"$blob": rid, "size": st.st_size}))

    async def _write_offer(self, call_id: str, data: bytes | bytearray | memoryview) -> None:
        rid = random_id()
        size = memoryview(data).nbytes
        loop = asyncio.get_running_loop()
        try:
            path = await loop.run_in_executor(None, self._outbox.write, rid, data)
        except (OSError, TypeError, ValueError) as e:
            print(f"ovalis: cannot offer bytes: {e}", file=sys.stderr)
            self.send(ret_line(call_id, False, {"message": f"cannot offer bytes: {e}"}))
            return
        self.send(line.blob(rid, "move", path))
        self.send(ret_line(call_id, True, {"$blob": rid, "size": size}))

    def _capabilities(self, c: Call) -> JSON:
        def verdicts(names: JSON, known: Callable[[str], bool]) -> dict[str, JSON]:
            out: dict[str, JSON] = {}
            if isinstance(names, list):
                for n in names:
                    if isinstance(n, str):
                        out[n] = True if known(n) else {"why": "unsupported", "feature": n}
            return out

        def has_call(m: str) -> bool:
            return m in self._call_handlers or m in ("client.hello", "client.capabilities")

        return {"calls": verdicts(c.param("calls"), has_call),
                "events": verdicts(c.param("events"), lambda e: e in self._events)}


def _retrieved(fut: asyncio.Future[Any]) -> None:
    # An answer nobody awaits is no error worth a warning at exit.
    if not fut.cancelled():
        fut.exception()


async def _settle(c: Call, result: Awaitable[Any]) -> None:
    try:
        value = await result
    except CallError as e:
        c.reject(e.value)
        return
    except Exception as e:  # noqa: BLE001 - the page gets the error
        c.fail(str(e) or type(e).__name__)
        return
    if not c.answered:
        c.resolve(value)


def _origin_of(page: str) -> str:
    """scheme://host[:port] of an http(s) page, as the launcher reports
    origins; empty for files."""
    from urllib.parse import urlsplit

    if not page.startswith(("http://", "https://")):
        return ""
    u = urlsplit(page)
    host = u.hostname or ""
    port = u.port
    own = f"{u.scheme}://{host}"
    if port and not ((u.scheme == "http" and port == 80) or (u.scheme == "https" and port == 443)):
        own += f":{port}"
    return own

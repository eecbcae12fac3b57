"""The application's ovalis.json: read, checked and turned into the
launcher's command line and environment. docs/ovalis-json.md is the
reference for the fields and for the exact wording of every error."""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Callable, Iterable, NoReturn
from urllib.parse import urlsplit

if TYPE_CHECKING:
    from .backend import LaunchOptions

__all__ = ["AppConfig", "ConfigError", "load_app_config", "parse_app_config", "origin_glob"]


class ConfigError(ValueError):
    """A bad ovalis.json; str() is the one-line message."""


@dataclass
class AppConfig:
    dir: str  # the application folder, absolute
    file: str  # the file's path as given, for messages
    id: str = ""
    name: str = ""
    version: str = ""
    description: str = ""
    icon: str = ""  # relative to dir; empty when none
    page: str = ""  # relative path or http(s) URL, as written
    title: str = ""  # name when not given
    width: int = 960
    height: int = 640
    # The launcher's seven chrome fields in order, or None without chrome.
    chrome: list[str] | None = None
    accessory: bool = False
    defer_show: bool = False
    command: list[str] = field(default_factory=list)
    build: list[str] = field(default_factory=list)
    watch: list[str] = field(default_factory=lambda: ["backend"])
    # (pattern, grants) in file order.
    origins: list[tuple[str, list[str]]] = field(default_factory=list)
    media: list[str] = field(default_factory=list)
    downloads: str = ""  # empty when not given
    popups: str = ""
    mime_types: list[str] = field(default_factory=list)
    schemes: list[str] = field(default_factory=list)
    automation: bool = False  # WebKitWebDriver may drive the application

    def page_is_url(self) -> bool:
        return _is_url(self.page)

    def page_target(self) -> str:
        """The page as the launcher takes it: an absolute file path or the URL."""
        return self.page if self.page_is_url() else os.path.join(self.dir, self.page)

    def icon_path(self) -> str:
        return os.path.join(self.dir, self.icon) if self.icon else ""

    def socket_path(self) -> str:
        """<runtime>/<id>.sock, the fixed socket of the running instance."""
        rt = os.environ.get("XDG_RUNTIME_DIR") or "/tmp"
        return f"{rt}/{self.id}.sock"

    def launcher_env(self) -> dict[str, str]:
        """The OVALIS_* variables the launcher is started with."""
        env = {"OVALIS_APP_ID": self.id}
        if self.icon:
            env["OVALIS_ICON"] = self.icon_path()
        if self.chrome is not None:
            env["OVALIS_CHROME"] = "\t".join(self.chrome)
        if self.accessory:
            env["OVALIS_ACTIVATION"] = "accessory"
        if self.defer_show:
            env["OVALIS_DEFER_SHOW"] = "1"
        if self.downloads:
            env["OVALIS_DOWNLOADS"] = self.downloads
        if self.popups:
            env["OVALIS_POPUPS"] = self.popups
        if self.automation:
            env["OVALIS_AUTOMATION"] = "1"
        if self.media:
            env["OVALIS_MEDIA"] = ",".join(self.media)
        keys = {"media.proxy": "proxy", "media.camera": "camera", "media.microphone": "microphone"}
        rules = [f"{keys[g]} {p}" for p, grants in self.origins for g in grants if g in keys]
        if rules:
            env["OVALIS_MEDIA_ORIGINS"] = "\n".join(rules)
        return env

    def launch_options(self) -> LaunchOptions:
        """The launcher's command line and environment; the launcher is
        OVALIS_LAUNCHER when set, else "launcher" on PATH."""
        from .backend import LaunchOptions

        return LaunchOptions(page=self.page_target(), launcher=os.environ.get("OVALIS_LAUNCHER") or "launcher",
                             title=self.title, width=self.width, height=self.height, version=self.version,
                             env=self.launcher_env())

    def calls_allowed(self, origin: str) -> bool:
        """Whether page calls from this origin may reach the backend."""
        if origin == "file://":
            return True
        if self.page_is_url():
            u = urlsplit(self.page)
            own = f"{u.scheme}://{u.hostname or ''}"
            try:
                port = u.port
            except ValueError:
                port = None
            if port and not ((u.scheme == "http" and port == 80) or (u.scheme == "https" and port == 443)):
                own += f":{port}"
            if origin == own:
                return True
        return any("calls" in grants and origin_glob(p, origin) for p, grants in self.origins)


def origin_glob(pattern: str, text: str) -> bool:
    """"*" matches any run of characters, everything else itself."""
    # Iterative matching with one remembered star: linear in practice and
    # never deep recursion on hostile patterns.
    pi = ti = 0
    star, mark = -1, 0
    while ti < len(text):
        if pi < len(pattern) and pattern[pi] == "*":
            star, pi, mark = pi, pi + 1, ti
        elif pi < len(pattern) and pattern[pi] == text[ti]:
            pi += 1
            ti += 1
        elif star >= 0:
            pi = star + 1
            mark += 1
            ti = mark
        else:
            return False
    while pi < len(pattern) and pattern[pi] == "*":
        pi += 1
    return pi == len(pattern)


# ---- checking ------------------------------------------------------------------


class _Obj(list[tuple[str, Any]]):
    """A JSON object as its members in file order, duplicates kept."""

    def get(self, key: str) -> Any:
        for k, v in self:
            if k == key:
                return v
        return _MISSING


_MISSING: Any = object()


def _plain_name(k: str) -> bool:
    return bool(k) and all(c.isascii() and (c.isalnum() or c in "_$-") for c in k)


def _member(base: str, key: str) -> str:
    if _plain_name(key):
        return f"{base}.{key}" if base else key
    return f"{base}[{json.dumps(key, ensure_ascii=False)}]"


def _shown_string(s: str) -> str:
    if len(s) > 40:
        s = s[:37] + "..."
    out = ['"']
    for c in s:
        o = ord(c)
        if c == '"':
            out.append('\\"')
        elif c == "\\":
            out.append("\\\\")
        elif c in "\n\t\r\b\f":
            out.append({"\n": "\\n", "\t": "\\t", "\r": "\\r", "\b": "\\b", "\f": "\\f"}[c])
        elif o < 0x20:
            out.append(f"\\u{o:04x}")
        else:
            out.append(c)
    out.append('"')
    return "".join(out)


def _kind(v: Any) -> str:
    if v is None:
        return "null"
    if v is True:
        return "true"
    if v is False:
        return "false"
    if isinstance(v, (int, float)):
        return "a number"
    if isinstance(v, list) and not isinstance(v, _Obj):
        return "an array"
    if isinstance(v, _Obj):
        return "an object"
    return _shown_string(str(v))


def _one_line(s: str) -> bool:
    return not any(ord(c) < 0x20 or ord(c) == 0x7F for c in s)


def _relative_path(s: str) -> bool:
    return (bool(s) and not s.startswith("/") and _one_line(s) and "\\" not in s
            and ".." not in s.split("/"))


def _app_id(s: str) -> bool:
    if not s or len(s) > 255:
        return False
    parts = s.split(".")
    return len(parts) >= 2 and all(
        p and not p[0].isdigit() and all(c.isascii() and (c.isalnum() or c in "_-") for c in p) for p in parts)


def _version(s: str) -> bool:
    return (0 < len(s) <= 64 and s[0].isascii() and s[0].isdigit()
            and all(c.isascii() and (c.isalnum() or c in ".+-~") for c in s))


def _mime_part(p: str) -> bool:
    return bool(p) and all(c.isascii() and (c.isalnum() or c in "!#$&^_.+-") for c in p)


def _mime(s: str) -> bool:
    a, slash, b = s.partition("/")
    return bool(slash) and _mime_part(a) and _mime_part(b)


def _scheme(s: str) -> bool:
    return (bool(s) and s[0].isascii() and s[0].isalpha()
            and all(c.isascii() and (c.isalnum() or c in "+-.") for c in s))


def _origin_pattern(s: str) -> bool:
    return bool(s) and not any(ord(c) <= 0x20 or ord(c) == 0x7F for c in s)


def _is_url(s: str) -> bool:
    return s.startswith(("http://", "https://"))


def _one_of(*words: str) -> Callable[[str], bool]:
    return lambda s: s in words


class _Checker:
    def __init__(self, file: str, folder: str) -> None:
        self.file = file
        self.dir = folder

    def fail(self, fld: str, text: str) -> NoReturn:
        raise ConfigError(f"{self.file}: {fld}: {text}")

    def expected(self, fld: str, what: str, got: Any) -> NoReturn:
        if isinstance(got, (int, float)) and not isinstance(got, bool):
            self.fail(fld, f"expected {what}")
        self.fail(fld, f"expected {what}, got {_kind(got)}")

    def members(self, o: _Obj, base: str, known: Iterable[str], allow_schema: bool = False) -> None:
        """Refuses repeated and unknown members of an object before its
        values are looked at."""
        self.duplicates(o, base)
        names = set(known)
        for k, _ in o:
            if not (k in names or (allow_schema and k == "$schema")):
                self.fail(_member(base, k), "unknown field")

    def duplicates(self, o: _Obj, base: str) -> None:
        seen: set[str] = set()
        for k, _ in o:
            if k in seen:
                self.fail(_member(base, k), "duplicate field")
            seen.add(k)

    def string(self, v: Any, fld: str, what: str, ok: Callable[[str], bool]) -> str:
        if not isinstance(v, str) or not ok(v):
            self.expected(fld, what, v)
        return v

    def boolean(self, v: Any, fld: str) -> bool:
        if not isinstance(v, bool):
            self.expected(fld, "true or false", v)
        return v

    def integer(self, v: Any, fld: str, lo: int, hi: int) -> int:
        if (isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v)
                or v < lo or v > hi or v != math.floor(v)):
            self.expected(fld, f"an integer from {lo} to {hi}", v)
        return int(v)

    def obj(self, v: Any, fld: str) -> _Obj:
        if not isinstance(v, _Obj):
            self.expected(fld, "an object", v)
        return v

    def strings(self, v: Any, fld: str, what: str, item_what: str, ok: Callable[[str], bool],
                non_empty: bool = False) -> list[str]:
        if not isinstance(v, list) or isinstance(v, _Obj) or (non_empty and not v):
            self.expected(fld, what, v)
        return [self.string(x, f"{fld}[{i}]", item_what, ok) for i, x in enumerate(v)]

    def file_exists(self, fld: str, rel: str) -> None:
        if not os.path.isfile(os.path.join(self.dir, rel)):
            self.fail(fld, f"no such file: {rel}")


def _reject_constant(name: str) -> Any:
    raise ValueError(f"not JSON: {name}")


def parse_app_config(text: str | bytes, file: str, folder: str) -> AppConfig:
    """Checks the text of a file already read. file is the path used in
    messages; folder is the application folder, where page and icon must
    exist. Raises ConfigError with the one-line message."""
    if isinstance(text, bytes):
        try:
            text = text.decode("utf-8")
        except UnicodeDecodeError:
            raise ConfigError(f"{file}: not UTF-8 text") from None
    try:
        doc = json.loads(text, object_pairs_hook=_Obj, parse_constant=_reject_constant)
    except json.JSONDecodeError as e:
        raise ConfigError(f"{file}: invalid JSON at line {e.lineno}, column {e.colno}") from None
    except (ValueError, RecursionError):
        raise ConfigError(f"{file}: invalid JSON at line 1, column 1") from None
    if not isinstance(doc, _Obj):
        raise ConfigError(f"{file}: expected a JSON object, got {_kind(doc)}")

    ck = _Checker(file, folder)
    c = AppConfig(dir=folder, file=file)
    ck.members(doc, "", ["id", "name", "version", "description", "icon", "page", "window", "backend",
                         "api", "downloads", "popups", "opens", "automation"], allow_schema=True)

    def need(key: str, what: str) -> Any:
        v = doc.get(key)
        if v is _MISSING:
            ck.fail(key, f"missing (expected {what})")
        return v

    id_what = 'an application id such as "org.example.Hello"'
    c.id = ck.string(need("id", id_what), "id", id_what, _app_id)
    name_what = "a non-empty one-line string"
    c.name = ck.string(need("name", name_what), "name", name_what, lambda s: bool(s) and _one_line(s))
    version_what = 'a version such as "1.0.0"'
    c.version = ck.string(need("version", version_what), "version", version_what, _version)
    if (v := doc.get("description")) is not _MISSING:
        c.description = ck.string(v, "description", "a one-line string", _one_line)
    if (v := doc.get("icon")) is not _MISSING:
        c.icon = ck.string(v, "icon", "a relative path to a .png or .svg file",
                           lambda s: _relative_path(s) and s.lower().endswith((".png", ".svg")))
        ck.file_exists("icon", c.icon)
    page_what = "a relative path to an HTML file or an http(s) URL"
    c.page = ck.string(need("page", page_what), "page", page_what,
                       lambda s: (_is_url(s) and _one_line(s)) or _relative_path(s))
    if not _is_url(c.page):
        ck.file_exists("page", c.page)
    c.title = c.name
    if (w := doc.get("window")) is not _MISSING:
        _read_window(ck, w, c)
    _read_backend(ck, need("backend", "an object"), c)
    if (a := doc.get("api")) is not _MISSING:
        _read_api(ck, a, c)
    if (v := doc.get("downloads")) is not _MISSING:
        c.downloads = ck.string(v, "downloads", '"auto", "ask" or "deny"', _one_of("auto", "ask", "deny"))
    if (v := doc.get("popups")) is not _MISSING:
        c.popups = ck.string(v, "popups", '"external", "window" or "deny"', _one_of("external", "window", "deny"))
    if (o := doc.get("opens")) is not _MISSING:
        o = ck.obj(o, "opens")
        ck.members(o, "opens", ["mimeTypes", "schemes"])
        if (v := o.get("mimeTypes")) is not _MISSING:
            c.mime_types = ck.strings(v, "opens.mimeTypes", "an array of strings",
                                      'a MIME type such as "text/plain"', _mime)
        if (v := o.get("schemes")) is not _MISSING:
            c.schemes = [s.lower() for s in ck.strings(v, "opens.schemes", "an array of strings",
                                                        'a URL scheme such as "myapp"', _scheme)]
    if (v := doc.get("automation")) is not _MISSING:
        c.automation = ck.boolean(v, "automation")
    return c


def _read_window(ck: _Checker, w: Any, c: AppConfig) -> None:
    w = ck.obj(w, "window")
    ck.members(w, "window", ["title", "width", "height", "chrome", "activation", "deferShow"])
    if (v := w.get("title")) is not _MISSING:
        c.title = ck.string(v, "window.title", "a one-line string", _one_line)
    if (v := w.get("width")) is not _MISSING:
        c.width = ck.integer(v, "window.width", 1, 16384)
    if (v := w.get("height")) is not _MISSING:
        c.height = ck.integer(v, "window.height", 1, 16384)
    if (ch := w.get("chrome")) is not _MISSING:
        ch = ck.obj(ch, "window.chrome")
        ck.members(ch, "window.chrome", ["frame", "controls", "transparent", "vibrancy", "square",
                                         "firstMouse", "menuBar"])
        fields = [""] * 7

        def flag(key: str, index: int) -> None:
            if (v := ch.get(key)) is not _MISSING:
                fields[index] = "1" if ck.boolean(v, "window.chrome." + key) else "0"

        flag("frame", 0)
        if (v := ch.get("controls")) is not _MISSING:
            what = '"all", "none" or an array of "close", "minimize" and "maximize"'
            if isinstance(v, str):
                fields[1] = ck.string(v, "window.chrome.controls", what, _one_of("all", "none"))
            elif isinstance(v, list) and not isinstance(v, _Obj):
                names = ck.strings(v, "window.chrome.controls", what, '"close", "minimize" or "maximize"',
                                   _one_of("close", "minimize", "maximize"))
                fields[1] = ",".join(names) or "none"
            else:
                ck.expected("window.chrome.controls", what, v)
        flag("transparent", 2)
        if (v := ch.get("vibrancy")) is not _MISSING:
            fields[3] = ck.string(v, "window.chrome.vibrancy", "a one-line string", _one_line)
        flag("square", 4)
        flag("firstMouse", 5)
        flag("menuBar", 6)
        c.chrome = fields
    if (v := w.get("activation")) is not _MISSING:
        c.accessory = ck.string(v, "window.activation", '"regular" or "accessory"',
                                _one_of("regular", "accessory")) == "accessory"
    if (v := w.get("deferShow")) is not _MISSING:
        c.defer_show = ck.boolean(v, "window.deferShow")


def _read_backend(ck: _Checker, b: Any, c: AppConfig) -> None:
    b = ck.obj(b, "backend")
    ck.members(b, "backend", ["command", "build", "watch"])
    cmd = b.get("command")
    if cmd is _MISSING:
        ck.fail("backend.command", "missing (expected a non-empty array of strings)")
    c.command = ck.strings(cmd, "backend.command", "a non-empty array of strings", "a non-empty string",
                           bool, non_empty=True)
    if (v := b.get("build")) is not _MISSING:
        c.build = ck.strings(v, "backend.build", "a non-empty array of strings", "a non-empty string",
                             bool, non_empty=True)
    if (v := b.get("watch")) is not _MISSING:
        c.watch = ck.strings(v, "backend.watch", "an array of relative paths", "a relative path",
                             _relative_path)


def _read_api(ck: _Checker, a: Any, c: AppConfig) -> None:
    a = ck.obj(a, "api")
    ck.members(a, "api", ["origins", "media"])
    if (o := a.get("origins")) is not _MISSING:
        o = ck.obj(o, "api.origins")
        ck.duplicates(o, "api.origins")  # its names are patterns, so none is unknown
        grants_what = '"calls", "media.proxy", "media.camera" or "media.microphone"'
        for pattern, grants in o:
            fld = _member("api.origins", pattern)
            if not _origin_pattern(pattern):
                ck.fail(fld, 'expected an origin pattern such as "http://127.0.0.1:*"')
            c.origins.append((pattern, ck.strings(grants, fld, "an array of grants", grants_what,
                                                  _one_of("calls", "media.proxy", "media.camera",
                                                          "media.microphone"))))
    if (m := a.get("media")) is not _MISSING:
        c.media = ck.strings(m, "api.media", 'an array of "camera" and "microphone"',
                             '"camera" or "microphone"', _one_of("camera", "microphone"))


def load_app_config(path: str | None = None) -> AppConfig:
    """Reads <folder>/ovalis.json, or the file itself when path names a
    file. No path means OVALIS_APP_DIR, else the current folder. Raises
    ConfigError with the one-line message."""
    if not path:
        env = os.environ.get("OVALIS_APP_DIR")
        folder, file = (env, os.path.join(env, "ovalis.json")) if env else (".", "ovalis.json")
    elif os.path.isdir(path):
        folder, file = path, os.path.join(path, "ovalis.json")
    else:
        folder, file = os.path.dirname(path) or ".", path
    # Absolute, so that page and icon paths survive a change of folder.
    folder = os.path.abspath(folder)
    try:
        with open(file, "rb") as f:
            data = f.read()
    except OSError as e:
        raise ConfigError(f"{file}: cannot read: {e.strerror}") from None
    return parse_app_config(data, file, folder)

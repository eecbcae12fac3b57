"""Line builders for every command the launcher understands.

Each function returns the wire line (without its line feed), or a list of
lines for the menu blocks. Free text is escaped where the launcher unescapes
it and flattened to one line where it takes the text as it stands, so no
argument can split a line or add a field. An empty string means the line
cannot be written (a window id with a blank in it, say) and is not sent.

Requests take the request id the answer will carry ("GOT <id> <json>");
:class:`ovalis.Backend` picks ids and matches answers, so most code calls its
methods instead of these.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Any, Literal

from .wire import escaped_fields, json_dump, one_line, plain_fields, targeted, wire_escape

# ---- helpers ------------------------------------------------------------------


def _num(v: float) -> str:
    return "%.6g" % v


def _flag(b: bool | None) -> str:
    return "" if b is None else "1" if b else "0"


def _at(kw: str, window: str, rest: str) -> str:
    k = targeted(kw, window)
    return "" if k is None else f"{k} {rest}"


def _req(kw: str, rid: str, rest: str) -> str:
    """"KW <id> <rest>": the request form. The id must be one word."""
    return f"{kw} {one_line(rid).replace(' ', '_')} {rest}"


JSON = Any


# ---- core -----------------------------------------------------------------------


def eval(window: str, script: str) -> str:  # noqa: A001 - the command's name
    return _at("EVAL", window, wire_escape(script))


def eval_all(script: str) -> str:
    return "EVAL@* " + wire_escape(script)


def title(window: str, text: str) -> str:
    return _at("TITLE", window, one_line(text))


def size(window: str, width: int, height: int) -> str:
    return _at("SIZE", window, f"{int(width)} {int(height)}")


def get(rid: str, key: str) -> str:
    return _req("GET", rid, one_line(key))


def quit() -> str:  # noqa: A001
    return "QUIT"


def reload() -> str:
    return "RELOAD"


_BLOB_ID = re.compile(r"[A-Za-z0-9_-]{1,64}")


def blob(blob_id: str, mode: Literal["move", "keep"] | str, path: str) -> str:
    """Offers a file to the page: "BLOB <id> <mode> <path>", mode "move" (the
    launcher takes the file and removes it) or "keep" (it only reads it).
    Empty when the id is not 1 to 64 of A-Z a-z 0-9 _ -, the mode is
    neither, or the path is not absolute."""
    if not _BLOB_ID.fullmatch(blob_id) or mode not in ("move", "keep") or not path.startswith("/"):
        return ""
    return f"BLOB {blob_id} {mode} {wire_escape(path)}"


# ---- windows --------------------------------------------------------------------


@dataclass
class Chrome:
    """Window chrome; a field left None (or "") leaves the setting as it is."""

    frame: bool | None = None
    controls: str = ""  # "all", "none", or names: "close minimize maximize"
    transparent: bool | None = None
    vibrancy: str = ""
    square: bool | None = None
    first_mouse: bool | None = None
    menubar: bool | None = None

    def fields(self) -> list[str]:
        return [_flag(self.frame), self.controls, _flag(self.transparent), self.vibrancy,
                _flag(self.square), _flag(self.first_mouse), _flag(self.menubar)]


@dataclass
class WindowSpec:
    id: str  # not empty, not "main"; no blank, quote, backslash, '@' or ':'
    target: str = ""  # URL or file path
    title: str = ""
    width: int = 0  # 0: the launcher's default
    height: int = 0
    chrome: Chrome = field(default_factory=Chrome)
    x: int | None = None  # both or neither
    y: int | None = None
    parent: str = ""  # "main" or another window id
    show: bool = True


def winopen(w: WindowSpec) -> str:
    # The id ends up inside a quoted script literal in the new page and in
    # the first word of later lines: refuse ids that could break out of
    # either rather than open a window nobody can address safely.
    if not w.id or w.id == "main":
        return ""
    if any(ord(c) <= 0x20 or ord(c) == 0x7F or c in "'\"\\@:" for c in w.id):
        return ""
    f = [""] * 17
    f[0], f[1], f[2] = w.id, w.target, w.title
    if w.width > 0 and w.height > 0:
        f[3] = f"{int(w.width)}x{int(w.height)}"
    c = w.chrome.fields()
    f[4:10] = c[:6]
    if w.x is not None and w.y is not None:
        f[10], f[11] = str(int(w.x)), str(int(w.y))
    f[12] = c[6]
    f[14] = w.parent
    f[16] = "" if w.show else "0"
    return "WINOPEN " + plain_fields(f)


def winclose(wid: str) -> str:
    return "WINCLOSE " + one_line(wid)


def winop(window: str, op: str) -> str:
    return _at("WINOP", window, one_line(op))


def chrome(window: str, c: Chrome) -> str:
    return _at("CHROME", window, plain_fields(c.fields()))


def dragwin(window: str) -> str:
    return targeted("DRAGWIN", window) or ""


Edge = Literal["n", "ne", "e", "se", "s", "sw", "w", "nw"]


def resizewin(window: str, edge: Edge | str) -> str:
    return _at("RESIZEWIN", window, one_line(edge))


# ---- menus ----------------------------------------------------------------------


@dataclass
class MenuItem:
    """One entry of a menu: an item, a submenu, a separator or stock
    entries. Build them with :meth:`item`, :meth:`sub`, :meth:`separator` and
    :meth:`stock`."""

    kind: Literal["item", "submenu", "separator", "role"] = "item"
    id: str = ""
    label: str = ""
    accel: str = ""
    icon: str = ""  # a file path or "emoji:<text>"
    checked: bool = False
    disabled: bool = False
    role: str = ""  # kind "role": "standard", "undo", "copy", ...
    children: list[MenuItem] = field(default_factory=list)

    @staticmethod
    def item(id: str, label: str, accel: str = "", *, checked: bool = False,  # noqa: A002
             disabled: bool = False, icon: str = "") -> MenuItem:
        return MenuItem("item", id, label, accel, icon, checked, disabled)

    @staticmethod
    def sub(id: str, label: str, children: list[MenuItem], icon: str = "") -> MenuItem:  # noqa: A002
        return MenuItem("submenu", id, label, icon=icon, children=list(children))

    @staticmethod
    def separator() -> MenuItem:
        return MenuItem("separator")

    @staticmethod
    def stock(role: str) -> MenuItem:
        return MenuItem("role", role=role)


@dataclass
class Menu:
    title: str = ""
    items: list[MenuItem] = field(default_factory=list)
    # "edit": the stock Edit menu (title ignored). Its items are the stock
    # entries it shows (MenuItem.stock); without any it shows all of them.
    role: str = ""


@dataclass
class Tray:
    title: str = ""
    icon: str = ""
    tooltip: str = ""
    click_item: bool = False  # adds an entry that reports "TRAYCLICK"
    items: list[MenuItem] = field(default_factory=list)


def _add_items(out: list[str], items: list[MenuItem]) -> None:
    for i in items:
        if i.kind == "separator":
            out.append("SEP")
        elif i.kind == "role":
            out.append("ROLEITEM " + one_line(i.role))
        elif i.kind == "submenu":
            out.append("SUB " + plain_fields([i.id, i.label, i.icon]))
            _add_items(out, i.children)
            out.append("SUBEND")
        else:
            flags = ("c" if i.checked else "") + ("d" if i.disabled else "")
            out.append("ITEM " + plain_fields([i.id, i.label, i.accel, flags, i.icon]))


def menubar(window: str, menus: list[Menu]) -> list[str]:
    """A menu bar for one window ("" for the application menu of every
    window)."""
    if window == "":
        out = ["MENUBEGIN"]
    else:
        k = targeted("MENUBEGIN", window)
        if k is None:
            return []
        out = ["MENUBEGIN@main" if k == "MENUBEGIN" else k]
    for m in menus:
        if m.role:
            # The launcher drops an Edit menu that gets no entries, so the
            # role's entries follow it, and an Edit menu given none gets the
            # usual ones.
            out.append("MENUROLE " + one_line(m.role))
            if not m.items and m.role == "edit":
                out.append("ROLEITEM standard")
            _add_items(out, m.items)
            continue
        out.append("MENU " + one_line(m.title))
        _add_items(out, m.items)
    out.append("MENUEND")
    return out


def tray(t: Tray) -> list[str]:
    out = ["TRAYBEGIN " + plain_fields([t.title, t.icon, "1", t.tooltip, "1" if t.click_item else ""])]
    _add_items(out, t.items)
    out.append("TRAYEND")
    return out


def tray_remove() -> str:
    return "TRAYREMOVE"


def context_menu(items: list[MenuItem]) -> list[str]:
    out = ["CTXBEGIN"]
    _add_items(out, items)
    out.append("CTXEND")
    return out


def context_clear() -> str:
    return "CTXCLEAR"


def context_suppress(on: bool) -> str:
    return "CTXSUPPRESS 1" if on else "CTXSUPPRESS 0"


def menu_reset(window: str) -> str:
    return "MENURESET@" + one_line(window)


def menu_update(window: str, id: str, label: str | None = None,  # noqa: A002
                checked: bool | None = None, enabled: bool | None = None) -> str:
    """Unset parts stay as they are; window "" updates every window."""
    fields = plain_fields([id, label or "", _flag(checked), _flag(enabled)])
    if window == "":
        return "MENUUPD " + fields
    if any(ord(c) <= 0x20 for c in window):
        return ""
    return f"MENUUPD@{window} {fields}"


# ---- web content ----------------------------------------------------------------

DialogOp = Literal["open", "openmulti", "dir", "save", "alert", "confirm", "prompt"]


def dlg(call_id: str, op: DialogOp | str, fields: list[str]) -> str:
    """A dialog answering a call id: a page's "<window>:<seq>" or
    "q<digits>" for the backend's own request."""
    f = [op]
    for i, v in enumerate(fields):
        # The detail of an alert or a confirmation reads backslash-n as a
        # line break, so its own line breaks and backslashes travel escaped.
        f.append(wire_escape(v) if i == 1 and op in ("alert", "confirm") else v)
    return _req("DLG", call_id, plain_fields(f))


def navr(nav_id: str, verdict: Literal["allow", "deny", "external"] | str) -> str:
    return _req("NAVR", nav_id, one_line(verdict))


def popupr(q_id: str, verdict: str) -> str:
    return _req("POPUPR", q_id, one_line(verdict))


def find(call_id: str, text: str, forward: bool = True, match_case: bool = False) -> str:
    return _req("FIND", call_id, plain_fields([text, "1" if forward else "0", "1" if match_case else "0"]))


def stopfind(call_id: str) -> str:
    return "STOPFIND " + one_line(call_id)


def print_(window: str) -> str:
    return targeted("PRINT", window) or ""


def pdf(window: str, rid: str, path: str) -> str:
    k = targeted("PDF", window)
    return "" if k is None else _req(k, rid, wire_escape(path))


def cookies(rid: str, op: Literal["get", "set", "delete"] | str, fields: list[str] | None = None) -> str:
    rest = one_line(op)
    if fields:
        rest += "\t" + escaped_fields(fields)
    return _req("COOKIES", rid, rest)


def permission(rid: str, request: bool, name: str) -> str:
    return _req("PERMREQ" if request else "PERMCHK", rid, one_line(name))


# ---- desktop --------------------------------------------------------------------


@dataclass
class ClipData:
    text: str = ""
    html: str = ""
    image: str = ""  # a path, ~/path, data: URL or base64
    fallback_text: str = ""
    paths: list[str] = field(default_factory=list)


def clipwrite(d: ClipData) -> str:
    return "CLIPWRITE " + escaped_fields([d.text, d.html, d.image, d.fallback_text, *d.paths])


def clipwatch(interval_ms: int) -> str:
    """0 stops watching."""
    return f"CLIPWATCH {int(interval_ms)}"


@dataclass
class NotifyAction:
    id: str
    title: str


def notify(id: str, title: str, body: str, subtitle: str = "", sound: bool = False,  # noqa: A002
           actions: list[NotifyAction] | None = None) -> str:
    acts = wire_escape(json_dump([{"id": a.id, "title": a.title} for a in actions])) if actions else ""
    return "NOTIFY " + plain_fields([id, title, body, subtitle, "1" if sound else "0"]) + "\t" + acts


def power(rid: str, on: bool, display: bool = False, reason: str = "") -> str:
    return _req("POWER", rid, ("on" if on else "off") + "\t" + ("1" if display else "") + "\t" + wire_escape(reason))


def secret(rid: str, op: Literal["get", "set", "del"] | str, service: str, account: str, value: str = "") -> str:
    return _req("SECRET", rid, one_line(op) + "\t" + escaped_fields([service, account, value]))


def shell(rid: str, op: Literal["open", "reveal", "trash"] | str, target: str) -> str:
    return _req("SHELL", rid, one_line(op) + "\t" + wire_escape(target))


def login_get(rid: str) -> str:
    return _req("LOGIN", rid, "get")


def login_set(rid: str, enabled: bool) -> str:
    return _req("LOGIN", rid, "set 1" if enabled else "set 0")


def badge(count: int | None) -> str:
    """None hides the badge."""
    return "BADGE " + ("" if count is None else str(int(count)))


def progress(value: float | None) -> str:
    """None clears the progress."""
    return "PROGRESS" if value is None else "PROGRESS " + _num(value)


def attention() -> str:
    return "ATTENTION"


def appicon(path: str) -> str:
    return "APPICON " + wire_escape(path)


# ---- audio ------------------------------------------------------------------------


@dataclass
class Filter:
    type: str  # "peaking", "lowshelf", ... or "linear"
    freq: float = 0
    q: float = 0
    gain: float = 0
    gain_r: float | None = None


def audio_filters(chain: list[Filter]) -> str:
    specs = []
    for f in chain:
        spec = f"{one_line(f.type).replace(',', '_')},{_num(f.freq)},{_num(f.q)},{_num(f.gain)}"
        if f.gain_r is not None:
            spec += "," + _num(f.gain_r)
        specs.append(spec)
    return "AUDIOFILTERS " + "\t".join(specs)


def audio_filter_set(index: int, freq: float, q: float, gain: float) -> str:
    return f"AUDIOFILTERSET {int(index)}\t{_num(freq)}\t{_num(q)}\t{_num(gain)}"


def audio_balance(v: float) -> str:
    return "AUDIOBALANCE " + _num(v)


def sampler_load(rid: str, name: str, path: str) -> str:
    return _req("SAMPLER", rid, "LOAD\t" + escaped_fields([name, path]))


def sampler_play(voice: int, name: str, gain: float = 1, pan: float = 0, rate: float = 1,
                 loop: bool = False) -> str:
    return (f"SAMPLER PLAY {int(voice)}\t{one_line(name)}\t{_num(gain)}\t{_num(pan)}\t{_num(rate)}\t"
            + ("1" if loop else "0"))


def sampler_set(voice: int, gain: float | None = None, pan: float | None = None,
                rate: float | None = None) -> str:
    """Unset parts of a voice stay as they are."""
    def f(v: float | None) -> str:
        return "_" if v is None else _num(v)
    return f"SAMPLER SET {int(voice)}\t{f(gain)}\t{f(pan)}\t{f(rate)}"


def sampler_stop(voice: int) -> str:
    return f"SAMPLER STOP {int(voice)}"


def sampler_stop_all() -> str:
    return "SAMPLER STOPALL"


def sampler_master(v: float) -> str:
    return "SAMPLER MASTER " + _num(v)


def sampler_unload(name: str) -> str:
    return "SAMPLER UNLOAD " + wire_escape(name)


def audiotap(rid: str, app_scope: bool = True, interval_ms: int = 80) -> str:
    return _req("AUDIOTAP", rid, ("app" if app_scope else "system") + "\t\t" + str(int(interval_ms)))


def audiotap_stop() -> str:
    return "AUDIOTAP STOP"


def sound(rid: str, name_or_path: str = "") -> str:
    return _req("SOUND", rid, wire_escape(name_or_path))


def say(rid: str, text: str, voice: str = "", rate: float = 0) -> str:
    return _req("SAY", rid, escaped_fields([text, voice]) + "\t" + _num(rate))


def saystop() -> str:
    return "SAYSTOP"


def voices(rid: str) -> str:
    return _req("VOICES", rid, "")


@dataclass
class NowPlaying:
    title: str = ""
    artist: str = ""
    album: str = ""
    duration: float = 0
    elapsed: float = 0
    playing: bool = False


def nowplaying(np: NowPlaying) -> str:
    j = {"title": np.title, "artist": np.artist, "album": np.album, "duration": np.duration,
         "elapsed": np.elapsed, "playing": np.playing}
    return "NOWPLAYING " + wire_escape(json_dump(j))


def nowplaying_clear() -> str:
    return "NOWPLAYING clear"


# ---- input ------------------------------------------------------------------------


def hkreg(rid: str, hotkey: str, combo: str) -> str:
    return _req("HKREG", rid, plain_fields([hotkey, combo]))


def hkunreg(hotkey: str) -> str:
    return "HKUNREG " + one_line(hotkey)


def keystroke(rid: str, combo: str) -> str:
    return _req("KEYSTROKE", rid, one_line(combo))


def mousetrack(rid: str, restore_token: str = "") -> str:
    return _req("MOUSETRACK", rid, one_line(restore_token))


def mousetrack_stop() -> str:
    return "MOUSETRACK STOP"


# ---- capture and files ------------------------------------------------------------


def capture(rid: str) -> str:
    return _req("CAPTURE", rid, "")


def pickcolor(rid: str) -> str:
    return _req("PICKCOLOR", rid, "")


def thumb(rid: str, path: str, size: int = 256) -> str:
    return _req("THUMB", rid, wire_escape(path) + "\t" + str(int(size) if size > 0 else 256))


def spotlight(rid: str, query: str) -> str:
    return _req("SPOTLIGHT", rid, wire_escape(query))


# ---- requests this platform answers as unavailable -----------------------------------
# Portable backends may still send them; each gets its one answer.


def ocr(rid: str, path: str) -> str:
    return _req("OCR", rid, one_line(path))


def osa(rid: str, script: str) -> str:
    return _req("OSA", rid, one_line(script))


def record(rid: str, op: str) -> str:
    return _req("RECORD", rid, one_line(op))


def winctrl(rid: str, op: str) -> str:
    return _req("WINCTRL", rid, one_line(op))


def auth(rid: str, reason: str) -> str:
    return _req("AUTH", rid, one_line(reason))


def ai_available(rid: str) -> str:
    return _req("AI available", rid, "")


def ai_generate(rid: str, request: JSON) -> str:
    return _req("AI generate", rid, json_dump(request))

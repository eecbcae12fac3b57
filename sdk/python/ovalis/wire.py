"""The backend's side of the wire text: reading page calls and answers, and
escaping the fields of the lines a backend sends. Pure functions, so they can
be tested alone."""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from typing import Any, Iterator

__all__ = [
    "PageCall", "Got", "LineFramer", "parse_call", "parse_got", "wire_escape", "wire_unescape",
    "one_line", "targeted", "split_tabs", "escaped_fields", "plain_fields", "json_dump",
    "json_quote", "ret_line", "emit_line", "emit_script", "event_json",
]

_ESCAPES = str.maketrans({"\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t"})
_FLATTEN = {c: " " for c in [*range(0x20), 0x7F]}


def wire_escape(text: str) -> str:
    """Escapes text for a field the launcher unescapes: backslash, line feed,
    carriage return and tab become two-character escapes."""
    return text.translate(_ESCAPES)


def wire_unescape(text: str) -> str:
    """The launcher's reading of an escaped field: backslash-n, -t and -r
    stand for the control characters, a backslash before any other character
    for that character, and a lone trailing backslash stays."""
    out: list[str] = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c != "\\" or i + 1 == n:
            out.append(c)
            i += 1
            continue
        e = text[i + 1]
        out.append("\n" if e == "n" else "\t" if e == "t" else "\r" if e == "r" else e)
        i += 2
    return "".join(out)


def one_line(text: str) -> str:
    """Text for a field the launcher takes as it stands: every control
    character (line breaks above all, which would end the line and start a
    new command) becomes a blank."""
    return text.translate(_FLATTEN)


def targeted(keyword: str, window: str) -> str | None:
    """"KW" for the main window, "KW@<window>" for another; None when the id
    cannot be written in that form (a blank or control character in it)."""
    if window in ("", "main"):
        return keyword
    if any(ord(c) <= 0x20 or ord(c) == 0x7F for c in window):
        return None
    return f"{keyword}@{window}"


def split_tabs(text: str) -> list[str]:
    """Splits at every tab, empty fields included: N tabs give N + 1 fields."""
    return text.split("\t")


def escaped_fields(fields: list[str]) -> str:
    """Joins fields with tabs after escaping each (for fields the launcher
    unescapes); tabs or line breaks inside a field never split it."""
    return "\t".join(wire_escape(f) for f in fields)


def plain_fields(fields: list[str]) -> str:
    """Joins fields with tabs, each made one line without tabs (for fields
    the launcher takes as they stand)."""
    return "\t".join(one_line(f) for f in fields)


def _finite(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {str(k): _finite(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite(v) for v in value]
    return value


def json_dump(value: Any) -> str:
    """Compact JSON text. It never holds a raw line break, so it is always
    safe as the last part of a wire line; numbers that are not finite become
    null (JSON has no spelling for them)."""
    try:
        return json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False, default=_bytes_text)
    except ValueError:
        return json.dumps(_finite(value), ensure_ascii=False, separators=(",", ":"), default=_bytes_text)


def _bytes_text(value: Any) -> Any:
    # JSON text has no spelling for bytes: outside a call's whole answer
    # (which becomes a file the page fetches) they are written as Base64.
    if isinstance(value, (bytes, bytearray, memoryview)):
        import base64

        return base64.b64encode(value).decode("ascii")
    raise TypeError(f"{type(value).__name__} is not JSON")


def json_quote(text: str) -> str:
    """A quoted JSON string literal for text."""
    return json.dumps(text, ensure_ascii=False)


@dataclass
class PageCall:
    """One page call, decoded from "CALL <window>:<seq> [<payload>,<origin>]"."""

    call_id: str  # "<window>:<seq>", echoed in the answer as it came
    window: str  # the part before the last ':'
    origin: str = ""
    method: str = ""  # empty when the payload names none
    params: Any = None  # None when the payload has no "params"
    error: str = ""  # set when the line has a call id but no usable payload


def parse_call(rest: str) -> PageCall | None:
    """The rest of a "CALL " line (after the keyword). None when not even a
    call id can be read; then nobody can be answered."""
    call_id, sep, payload_text = rest.partition(" ")
    colon = call_id.rfind(":")
    if not call_id or colon < 0 or colon + 1 == len(call_id):
        return None
    c = PageCall(call_id=call_id, window=call_id[:colon])
    if not sep:
        c.error = "call without a payload"
        return c
    try:
        outer = json.loads(payload_text)
    except ValueError:
        outer = None
    if not isinstance(outer, list) or not outer or not isinstance(outer[0], str):
        c.error = "malformed call line"
        return c
    if len(outer) > 1 and isinstance(outer[1], str):
        c.origin = outer[1]
    # The payload travels as a JSON string holding the page's own JSON text.
    try:
        payload = json.loads(outer[0])
    except (ValueError, RecursionError):
        payload = None
    if not isinstance(payload, dict):
        c.error = "call payload is not a JSON object"
        return c
    method = payload.get("method")
    if isinstance(method, str):
        c.method = method
    c.params = payload.get("params")
    if not c.method:
        c.error = "call without a method"
    return c


@dataclass
class Got:
    """One "GOT <id> <json>" answer. The value is None when the JSON text does
    not parse (the launcher's answers always do)."""

    id: str
    value: Any = None
    parsed: bool = False


def parse_got(rest: str) -> Got | None:
    gid, sep, text = rest.partition(" ")
    if not gid or not sep:
        return None
    try:
        return Got(gid, json.loads(text), True)
    except (ValueError, RecursionError):
        return Got(gid)


def ret_line(call_id: str, ok: bool, answer: Any) -> str:
    """"RET <call-id> 0|1 <json>"."""
    return f"RET {call_id} {'0' if ok else '1'} {json_dump(answer)}"


def emit_line(window: str, event: str, data: Any) -> str | None:
    """An "EVAL" line that delivers {event, data} to the event hub of one
    window's page; harmless in a document without the hub."""
    kw = targeted("EVAL", window)
    if kw is None:
        return None
    return f"{kw} {wire_escape(emit_script(event, data))}"


def emit_script(event: str, data: Any) -> str:
    return f"window.__emit&&window.__emit({{event:{json_quote(event)},data:{json_dump(data)}}})"


def event_json(rest: str) -> Any:
    """The JSON an event line carries: the part of its text from the first
    '{' or '[' on, or the whole text; None when that does not parse."""
    starts = [i for i in (rest.find("{"), rest.find("[")) if i >= 0]
    text = rest[min(starts):] if starts else rest
    try:
        return json.loads(text)
    except (ValueError, RecursionError):
        return None


@dataclass
class LineFramer:
    """Cuts a byte stream into lines: everything before each line feed is
    one line; empty lines are dropped and an unfinished tail waits for more
    bytes. Bytes that are not UTF-8 are replaced, never fatal."""

    buf: bytearray = field(default_factory=bytearray)

    def feed(self, data: bytes) -> Iterator[str]:
        self.buf += data
        start = 0
        while (nl := self.buf.find(b"\n", start)) >= 0:
            if nl > start:
                yield self.buf[start:nl].decode("utf-8", "replace")
            start = nl + 1
        del self.buf[:start]

    @property
    def pending(self) -> int:
        return len(self.buf)


#!/usr/bin/env python3
"""Notes: a small ovalis application with a Python backend.

The page shows the notes; this backend keeps them in a JSON file under the
user's data folder, sets up the menu bar, exports and imports notes through
the desktop's file dialogs, keeps a sync token in the keyring and says so
with a notification when a note is exported. Files opened with the
application from the desktop (launcher --open) become notes.

Run it from its folder with the launcher on PATH (or OVALIS_LAUNCHER set):

    python3 notes.py
"""

from __future__ import annotations

import asyncio
import json
import os
import time
import uuid
from typing import Any

import ovalis
from ovalis import Menu, MenuItem

APP_ID = "org.ovalis.examples.Notes"


def data_dir() -> str:
    base = os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share")
    return os.path.join(base, APP_ID)


class Notes:
    """The application: its handlers on one backend, its notes in one file."""

    def __init__(self, backend: ovalis.Backend, folder: str) -> None:
        self.b = backend
        self.file = os.path.join(folder, "notes.json")
        self.notes: list[dict[str, Any]] = self._load()
        b = backend
        b.handle("notes.list", lambda call: self.notes)
        b.handle("notes.save", self.save)
        b.handle("notes.delete", self.delete)
        b.handle("notes.export", self.export)
        b.handle("notes.import", self.import_note)
        b.handle("token.get", self.token_get)
        b.handle("token.set", self.token_set)
        b.declare_events("menu-command", "open-files")
        b.on("MENU", self.on_menu)
        b.on_connected = self.set_menus
        b.on_open = self.on_open

    # ---- the menu bar ------------------------------------------------------

    def set_menus(self) -> None:
        self.b.set_menus("", [
            Menu("File", [
                MenuItem.item("new", "New Note", "Ctrl+N"),
                MenuItem.item("save", "Save", "Ctrl+S"),
                MenuItem.separator(),
                MenuItem.item("import", "Import…", "Ctrl+O"),
                MenuItem.item("export", "Export…", "Ctrl+E"),
                MenuItem.separator(),
                MenuItem.item("quit", "Quit", "Ctrl+Q"),
            ]),
            Menu(role="edit"),
        ])

    def on_menu(self, event: ovalis.Event) -> None:
        if event.text == "quit":
            self.b.quit()
        else:
            self.b.emit("main", "menu-command", event.text)

    # ---- notes -------------------------------------------------------------

    def _load(self) -> list[dict[str, Any]]:
        try:
            with open(self.file, encoding="utf-8") as f:
                notes = json.load(f)
            return notes if isinstance(notes, list) else []
        except (OSError, ValueError):
            return []

    def _store(self) -> None:
        os.makedirs(os.path.dirname(self.file), exist_ok=True)
        # Written aside and renamed, so a crash never leaves half a file.
        tmp = self.file + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.notes, f, ensure_ascii=False, indent=1)
        os.replace(tmp, self.file)

    def _add(self, text: str) -> dict[str, Any]:
        note = {"id": uuid.uuid4().hex, "text": text, "title": _title(text), "saved": time.time()}
        self.notes.insert(0, note)
        return note

    def save(self, call: ovalis.Call) -> dict[str, Any]:
        text = call.param("text")
        if not isinstance(text, str):
            raise ValueError("a note is text")
        for note in self.notes:
            if note["id"] == call.param("id"):
                note.update(text=text, title=_title(text), saved=time.time())
                break
        else:
            note = self._add(text)
        self._store()
        return note

    def delete(self, call: ovalis.Call) -> bool:
        before = len(self.notes)
        self.notes = [n for n in self.notes if n["id"] != call.param("id")]
        self._store()
        return len(self.notes) < before

    async def export(self, call: ovalis.Call) -> dict[str, Any]:
        text = call.param("text", "")
        name = (_title(text) or "note").replace("/", "-") + ".txt"
        path = await self.b.dialog("save", ["txt,md", name, "downloads"])
        if not isinstance(path, str):
            return {"path": None}
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        self.b.notify("exported", "Note exported", path)
        return {"path": path}

    async def import_note(self, call: ovalis.Call) -> dict[str, Any] | None:
        path = await self.b.dialog("open", ["txt,md"])
        return self._import(path) if isinstance(path, str) else None

    def _import(self, path: str) -> dict[str, Any] | None:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                note = self._add(f.read(1 << 20))
        except OSError:
            return None
        self._store()
        return note

    def on_open(self, request: Any) -> None:
        for path in request.get("paths", []):
            self._import(path)

    # ---- the sync token, kept in the keyring -------------------------------

    async def token_get(self, call: ovalis.Call) -> str | None:
        r = await self.b.secret("get", APP_ID, "sync-token")
        if not r.get("ok"):
            raise RuntimeError(r.get("error") or "the keyring is not available")
        value = r.get("value")
        return value if isinstance(value, str) else None

    async def token_set(self, call: ovalis.Call) -> bool:
        value = call.param("value")
        r = await self.b.secret("set" if value else "del", APP_ID, "sync-token", value or "")
        if not r.get("ok"):
            raise RuntimeError(r.get("error") or "the keyring is not available")
        return True


def _title(text: str) -> str:
    return text.strip().split("\n", 1)[0][:80] if text.strip() else ""


async def main() -> int:
    backend = ovalis.Backend()
    Notes(backend, data_dir())
    return await backend.run_app(os.path.dirname(os.path.abspath(__file__)))


if __name__ == "__main__":
    raise SystemExit(asyncio.run(main()))

"""Bytes between page and backend: files the launcher announces with
"BLOB {json}" lines and page calls name with {"$blob":"<id>","size":N}
references, and files this backend offers with "BLOB <id> move <path>"
before answering with such a reference."""

from __future__ import annotations

import json
import os
import secrets
import shutil
import stat
import sys
import tempfile
from collections import OrderedDict
from dataclasses import dataclass
from typing import Any, Callable

#: What a handler may answer with for the page's fetchBytes.
BytesLike = (bytes, bytearray, memoryview)


def random_id() -> str:
    """A fresh id: 32 hex digits of cryptographic randomness."""
    return secrets.token_hex(16)


def reference_id(value: Any) -> str | None:
    """The id of a reference {"$blob":"<id>","size":N} (those two members and
    no other); None when value is not one."""
    if not isinstance(value, dict) or len(value) != 2:
        return None
    rid, size = value.get("$blob"), value.get("size")
    if not isinstance(rid, str) or not rid or not isinstance(size, (int, float)) or isinstance(size, bool):
        return None
    return rid


def _map_references(value: Any, fn: Callable[[str], Any]) -> Any:
    """value with every reference replaced by fn(id), rebuilt only where it
    holds one."""
    rid = reference_id(value)
    if rid is not None:
        return fn(rid)
    if isinstance(value, list):
        return [_map_references(v, fn) for v in value]
    if isinstance(value, dict):
        return {k: _map_references(v, fn) for k, v in value.items()}
    return value


def _remove(path: str) -> None:
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    except OSError as e:
        print(f"ovalis: cannot remove {path}: {e.strerror}", file=sys.stderr)


def _read_upload(path: str, size: int) -> bytes:
    """The whole file, which must be a regular file of exactly size bytes."""
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NOFOLLOW)
    with open(fd, "rb", buffering=0) as f:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode) or st.st_size != size:
            raise OSError("not a regular file of the announced size")
        data = f.read(size)
        if len(data) != size:
            raise OSError("the file is shorter than announced")
        return data


@dataclass
class _Upload:
    path: str
    size: int


class Inbox:
    """Uploads the launcher has announced and no call has named yet. The
    oldest is dropped (and its file removed) beyond limit, so a page that
    uploads and never calls cannot fill the disk through us."""

    def __init__(self, limit: int = 256) -> None:
        self.limit = limit
        self._entries: OrderedDict[str, _Upload] = OrderedDict()

    def __len__(self) -> int:
        return len(self._entries)

    def announce(self, text: str) -> None:
        """The JSON text of a "BLOB {...}" line; malformed ones are ignored."""
        try:
            a = json.loads(text)
        except (ValueError, RecursionError):
            return
        if not isinstance(a, dict):
            return
        rid, path, size = a.get("id"), a.get("path"), a.get("size")
        if (not isinstance(rid, str) or not rid or not isinstance(path, str) or not path.startswith("/")
                or not isinstance(size, int) or isinstance(size, bool) or size < 0):
            return
        old = self._entries.pop(rid, None)
        if old is not None and old.path != path:
            _remove(old.path)
        self._entries[rid] = _Upload(path, size)
        while len(self._entries) > self.limit:
            _, oldest = self._entries.popitem(last=False)
            _remove(oldest.path)

    def claim(self, params: Any) -> Callable[[], tuple[Any, str | None]]:
        """Takes the uploads params names out of the table at once, and
        returns the work that reads them, which may run in another thread:
        it gives params with every reference replaced by the bytes of its
        file, and None, and removes the files. When a reference names no
        announced upload or its file cannot be read in full it gives
        (params, the id); the files the call named are removed then too."""
        claimed: dict[str, _Upload | None] = {}

        def take(rid: str) -> None:
            if rid not in claimed:
                claimed[rid] = self._entries.pop(rid, None)

        _map_references(params, take)

        def load() -> tuple[Any, str | None]:
            bad: str | None = None
            data: dict[str, bytes] = {}
            for rid, up in claimed.items():
                if up is None:
                    bad = bad or rid
                    continue
                if bad is None:
                    try:
                        data[rid] = _read_upload(up.path, up.size)
                    except OSError as e:
                        print(f"ovalis: cannot read the upload {up.path}: {e.strerror or e}", file=sys.stderr)
                        bad = rid
                _remove(up.path)
            if bad is not None:
                return params, bad
            return _map_references(params, data.__getitem__), None

        return load

    def resolve(self, params: Any) -> tuple[Any, str | None]:
        """claim() and its reading, at once."""
        return self.claim(params)()

    def discard(self, params: Any) -> None:
        """Removes the files a call names without reading them: for calls no
        handler sees."""
        def drop(rid: str) -> None:
            up = self._entries.pop(rid, None)
            if up is not None:
                _remove(up.path)

        _map_references(params, drop)

    def clear(self) -> None:
        for up in self._entries.values():
            _remove(up.path)
        self._entries.clear()


def _in_memory(path: str) -> bool:
    """Whether path lies on a file system held in memory (tmpfs)."""
    try:
        real = os.path.realpath(path)
        best, kind = "", ""
        with open("/proc/self/mounts", encoding="utf-8") as mounts:
            for line in mounts:
                fields = line.split()
                if len(fields) < 3:
                    continue
                point = fields[1].replace("\\040", " ")
                inside = real == point or real.startswith(point.rstrip("/") + "/")
                if inside and len(point) >= len(best):
                    best, kind = point, fields[2]
        return kind in ("tmpfs", "ramfs")
    except OSError:
        return False


def _bytes_base() -> str:
    """Where offered files go: in memory, as the launcher keeps its own (the
    runtime directory when it is, else /dev/shm), else the temp directory."""
    for base in (os.environ.get("XDG_RUNTIME_DIR", ""), "/dev/shm"):
        if base and os.access(base, os.W_OK) and _in_memory(base):
            return base
    return tempfile.gettempdir()


class Outbox:
    """Files this backend offers, in a private folder made on first use."""

    def __init__(self) -> None:
        self.dir = ""

    def write(self, rid: str, data: bytes | bytearray | memoryview) -> str:
        """Writes data to a new file named rid; returns its path."""
        if not self.dir:
            base = _bytes_base()
            # mkdtemp makes the folder 0700: only this user can read what we offer.
            self.dir = tempfile.mkdtemp(prefix="ovalis-bytes-", dir=base)
        path = os.path.join(self.dir, rid)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o600)
        try:
            view = memoryview(data).cast("B")
            off = 0
            while off < len(view):
                off += os.write(fd, view[off:])
        except BaseException:
            _remove(path)
            raise
        finally:
            os.close(fd)
        return path

    def clear(self) -> None:
        """Removes the folder and the offers the launcher never took."""
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = ""

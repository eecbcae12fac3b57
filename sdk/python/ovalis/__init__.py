"""Backends for the ovalis launcher, on asyncio.

A backend starts the launcher on its page, answers the page's calls, sends
commands and hears events::

    import asyncio, ovalis

    async def main() -> int:
        backend = ovalis.Backend()
        backend.handle("greet", lambda call: {"text": f"Hello, {call.param('name')}!"})
        await backend.start(ovalis.LaunchOptions(page="/path/to/index.html", title="Hello"))
        return await backend.run()

    raise SystemExit(asyncio.run(main()))
"""

from . import lines
from .backend import (
    JSON,
    Backend,
    Call,
    CallError,
    Event,
    LaunchError,
    LauncherGone,
    LaunchOptions,
    RequestTimeout,
    forward_open,
    open_request,
)
from .config import AppConfig, ConfigError, load_app_config, origin_glob, parse_app_config
from .lines import (
    Chrome,
    ClipData,
    Filter,
    Menu,
    MenuItem,
    NotifyAction,
    NowPlaying,
    Tray,
    WindowSpec,
)

__version__ = "0.9.0"

__all__ = [
    "JSON", "AppConfig", "Backend", "Call", "CallError", "Chrome", "ClipData", "ConfigError", "Event",
    "Filter", "LaunchError", "LaunchOptions", "LauncherGone", "Menu", "MenuItem", "NotifyAction",
    "NowPlaying", "RequestTimeout", "Tray", "WindowSpec", "forward_open", "lines", "load_app_config",
    "open_request", "origin_glob", "parse_app_config",
]

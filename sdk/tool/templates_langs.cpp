// The Python and JavaScript backends of a new application.
#include "templates.h"

namespace tool {

// ---- Python ---------------------------------------------------------------

const char* const kTplPythonBackend = R"~(    "command": ["python3", "backend/main.py"],
    "watch": ["backend"])~";

const char* const kTplPythonMain = R"~(#!/usr/bin/env python3
"""The backend: answers the page's calls. run_app() reads ovalis.json,
starts launcher on the page and runs until the window is closed."""

import asyncio
import json

import ovalis


async def main() -> int:
    app = ovalis.Backend()

    @app.route("greet")
    def greet(call: ovalis.Call) -> ovalis.JSON:
        who = call.param("name", "world")
        print(f"greeted {who}", flush=True)
        return {"text": f"Hello, {who}, from the Python backend!"}

    # Files and URLs from the desktop ("opens" in ovalis.json); the page gets
    # them too, as its open-files and open-url events.
    def opened(request: ovalis.JSON) -> None:
        print("open request " + json.dumps(request, separators=(",", ":")), flush=True)

    app.on_open = opened
    return await app.run_app()


if __name__ == "__main__":
    raise SystemExit(asyncio.run(main()))
)~";

// ---- JavaScript -----------------------------------------------------------

const char* const kTplNodeBackend = R"~(    "command": ["node", "backend/main.mjs"],
    "watch": ["backend"])~";

const char* const kTplNodeMain = R"~(// The backend: answers the page's calls. runApp() reads ovalis.json,
// starts launcher on the page and runs until the window is closed.
import { Backend } from 'ovalis-backend';

const app = new Backend();

app.handle('greet', ({ name = 'world' } = {}) => {
  console.log(`greeted ${name}`);
  return { text: `Hello, ${name}, from the JavaScript backend!` };
});

// Files and URLs from the desktop ("opens" in ovalis.json); the page gets
// them too, as its open-files and open-url events.
app.onOpen((request) => console.log(`open request ${JSON.stringify(request)}`));

process.exitCode = await app.runApp();
)~";

const char* const kTplNodePackage = R"~({
  "name": "@SLUG@",
  "version": "0.1.0",
  "private": true,
  "type": "module",
  "description": "Backend of an ovalis application",
  "dependencies": {
    "ovalis-backend": "file:@NODE_LIB@"
  }
}
)~";

}  // namespace tool

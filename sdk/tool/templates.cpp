// The files of a new application. @NAME@ (HTML-escaped as @NAME_HTML@,
// JSON-quoted as @NAME_JSON@), @ID@, @SLUG@ and @PKG@ are filled in by
// `ovalis new`.
#include "templates.h"

namespace tool {

const char* const kTplPageHtml = R"~(<!doctype html>
<html lang="en">
<head>
  <meta charset="utf-8">
  <meta name="viewport" content="width=device-width, initial-scale=1">
  <title>@NAME_HTML@</title>
  <link rel="stylesheet" href="style.css">
</head>
<body>
  <main>
    <img src="../icon.svg" alt="" width="96" height="96">
    <h1>Welcome to @NAME_HTML@</h1>
    <p id="reply">Waiting for the backend&hellip;</p>
    <form id="ask">
      <input id="who" value="world" aria-label="Your name">
      <button>Greet</button>
    </form>
    <ul id="opened"></ul>
  </main>
  <script src="app.js"></script>
</body>
</html>
)~";

const char* const kTplPageJs = R"~(// The page reaches its backend through window.ovalis, which launcher
// provides before this script runs.
const reply = document.getElementById('reply');

async function greet(name) {
  try {
    const answer = await ovalis.api.call('greet', { name });
    reply.textContent = answer.text;
  } catch (e) {
    reply.textContent = 'The backend did not answer: ' + ((e && e.message) || e);
  }
}

document.getElementById('ask').addEventListener('submit', (ev) => {
  ev.preventDefault();
  greet(document.getElementById('who').value);
});

// Files and URLs the desktop hands to the application (see "opens" in
// ovalis.json).
const opened = document.getElementById('opened');
function show(text) {
  const li = document.createElement('li');
  li.textContent = 'Opened ' + text;
  opened.append(li);
}
ovalis.app.onOpenUrl((url) => show(url));
ovalis.app.onOpenFiles((paths) => paths.forEach(show));

greet('world');
)~";

const char* const kTplPageCss = R"~(:root {
  color-scheme: light dark;
  font-family: system-ui, sans-serif;
}
body {
  margin: 0;
  min-height: 100vh;
  display: grid;
  place-items: center;
}
main {
  text-align: center;
}
form {
  display: flex;
  gap: 0.5em;
  justify-content: center;
}
input, button {
  font: inherit;
  padding: 0.3em 0.6em;
}
ul {
  list-style: none;
  padding: 0;
}
)~";

const char* const kTplIcon = R"~(<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="g" x1="0" y1="0" x2="1" y2="1">
      <stop offset="0" stop-color="#5b8def"/>
      <stop offset="1" stop-color="#7b4fd6"/>
    </linearGradient>
  </defs>
  <rect x="16" y="16" width="224" height="224" rx="48" fill="url(#g)"/>
  <ellipse cx="128" cy="128" rx="64" ry="80" fill="none" stroke="#fff" stroke-width="20"/>
</svg>
)~";

const char* const kTplReadme = R"~(# @NAME@

An application built on ovalis: the page in `page/` is shown by launcher,
and the backend in `backend/` answers its calls. `ovalis.json` describes
both (see /usr/share/doc/ovalis-launcher or docs/ovalis-json.md).

    ovalis dev            # run it; edits to page/ reload the page,
                          # edits to the backend restart it
    ovalis dev --wire     # the same, showing every line between backend and launcher
    sh test/smoke.sh      # start it and check that the page reaches the backend
    ovalis package        # dist/@PKG@_<version>_<arch>.deb and a tarball
    sudo apt install ./dist/@PKG@_*.deb

Press F12 in the window under `ovalis dev` for the web inspector.
)~";

const char* const kTplSmoke = R"~(#!/bin/sh
# Starts the application and waits until its page has had an answer from
# the backend (the backend prints "greeted world"). Needs a display;
# without one it runs itself under xvfb-run.
set -eu
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a sh "$0" "$@"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A private runtime folder, so that a running copy of the application does
# not take this start over; the Wayland socket is named from the old one.
case "${WAYLAND_DISPLAY:-}" in
  ''|/*) ;;
  *) WAYLAND_DISPLAY="${XDG_RUNTIME_DIR:-/tmp}/$WAYLAND_DISPLAY"; export WAYLAND_DISPLAY ;;
esac
XDG_RUNTIME_DIR="$tmp"
export XDG_RUNTIME_DIR
ovalis run --build . >"$tmp/log" 2>&1 &
pid=$!
i=0
while [ $i -lt 600 ]; do
  if grep -q '^greeted world$' "$tmp/log"; then
    kill -TERM "$pid"
    wait "$pid" || true
    echo "PASS: the page reached the backend"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
  i=$((i + 1))
done
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
cat "$tmp/log" >&2
echo "FAIL: the page did not reach the backend within 60 s" >&2
exit 1
)~";

const char* const kTplGitignore = "build/\ndist/\nnode_modules/\n__pycache__/\n";

// ---- C++ ------------------------------------------------------------------

// One ovalis.json for every language; only the backend block differs.
const char* const kTplAppJson = R"~({
  "$schema": "/usr/share/ovalis/ovalis.schema.json",
  "id": "@ID@",
  "name": @NAME_JSON@,
  "version": "0.1.0",
  "description": "Greets you from its backend",
  "icon": "icon.svg",
  "page": "page/index.html",
  "window": { "width": 720, "height": 480 },
  "backend": {
@BACKEND@
  },
  "opens": { "schemes": ["@SLUG@"] }
}
)~";

const char* const kTplCppBackend = R"~(    "command": ["build/@SLUG@-backend"],
    "build": ["make", "--no-print-directory"],
    "watch": ["backend", "Makefile"])~";

const char* const kTplCppMain = R"~(// The backend: answers the page's calls. run_app() reads ovalis.json,
// starts launcher on the page and runs until the window is closed.
#include <ovalis/backend.h>

#include <cstdio>
#include <string>

int main() {
  ovalis::Backend app;
  app.handle("greet", [](const ovalis::Call& call) {
    std::string who = call.str("name", "world");
    std::printf("greeted %s\n", who.c_str());
    std::fflush(stdout);
    call.resolve(ovalis::obj({{"text", "Hello, " + who + ", from the C++ backend!"}}));
  });
  // Files and URLs from the desktop ("opens" in ovalis.json); the page gets
  // them too, as its open-files and open-url events.
  app.on_open = [](const ovalis::Json& request) {
    std::printf("open request %s\n", ovalis::json_dump(request).c_str());
    std::fflush(stdout);
  };
  return app.run_app();
}
)~";

const char* const kTplCppMakefile = R"~(# Builds the backend against the ovalis C++ library (pkg-config
# ovalis-backend, installed with launcher).
PKGS := ovalis-backend
CXXFLAGS ?= -O2 -g
CXXFLAGS += -std=c++20 -Wall -Wextra $(shell pkg-config --cflags $(PKGS))
LDLIBS += $(shell pkg-config --libs $(PKGS))

build/@SLUG@-backend: backend/main.cpp
	@mkdir -p build
	$(CXX) $(CPPFLAGS) $(CXXFLAGS) -o $@ $< $(LDFLAGS) $(LDLIBS)

clean:
	rm -rf build

.PHONY: clean
)~";

}  // namespace tool

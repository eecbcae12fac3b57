#!/bin/sh
# The ovalis command end to end, for one backend language, inside a private
# desktop session:
#   a malformed ovalis.json is refused with its exact message (by the tool
#   and by the application itself);
#   ovalis new, then the new project's own test;
#   ovalis dev: the page reloads on a page edit, the backend restarts on a
#   source edit;
#   ovalis package (lintian clean), the package unpacked into a scratch root,
#   the application started from its desktop entry, and a URL of its scheme
#   opened the way the desktop does it, reaching the running backend.
# Usage: ovalis_e2e.sh <build-dir> <cpp|python|node>
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../../.." && pwd)
lang=$2
PATH="$build:$PATH"
export PATH
tmp=$(mktemp -d /tmp/ovalis-e2e-XXXXXX)
pids=""
cleanup() {
  for p in $pids; do kill -TERM "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
HOME="$tmp/home"
mkdir -p "$HOME"
export HOME
now_ms() { date +%s%3N; }
fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.log; do [ -f "$f" ] && { echo "--- $f" >&2; tail -n 40 "$f" >&2; }; done
  exit 1
}
# wait_for <file> <fixed-string> [count]: up to 60 s.
wait_for() {
  n=0
  while [ "$n" -lt 600 ]; do
    if [ -f "$1" ] && [ "$(grep -cF -- "$2" "$1" || true)" -ge "${3:-1}" ]; then return 0; fi
    sleep 0.1
    n=$((n + 1))
  done
  fail "no '$2' in $1 within 60 s"
}

# ---- a malformed ovalis.json ----------------------------------------------
mkdir -p "$tmp/bad/page"
: >"$tmp/bad/page/index.html"
printf '{"id": "org.example.Bad", "name": "Bad",\n "version": "1", "page": "page/index.html",\n "window": {"width": "wide"},' >"$tmp/bad/ovalis.json"
st=0
ovalis check "$tmp/bad" 2>"$tmp/check.err" || st=$?
[ "$st" -eq 2 ] || fail "check of a malformed file: status $st"
grep -qxF "$tmp/bad/ovalis.json: invalid JSON at line 3, column 30" "$tmp/check.err" || fail "syntax message: $(cat "$tmp/check.err")"
printf '{"id": "org.example.Bad", "name": "Bad", "version": "1", "page": "page/index.html",\n "window": {"width": "wide"}, "backend": {"command": ["x"]}}' >"$tmp/bad/ovalis.json"
st=0
ovalis dev "$tmp/bad" 2>"$tmp/dev-bad.err" || st=$?
[ "$st" -eq 2 ] || fail "dev with a bad field: status $st"
grep -qxF "$tmp/bad/ovalis.json: window.width: expected an integer from 1 to 16384, got \"wide\"" "$tmp/dev-bad.err" ||
  fail "field message: $(cat "$tmp/dev-bad.err")"

# ---- new, and the project's own test --------------------------------------
cd "$tmp"
t0=$(now_ms)
ovalis new app --backend "$lang" --name "E2E App" --id org.example.E2eApp >/dev/null
app="$tmp/app"
# A scheme of its own for the open test.
sed -i 's/"schemes": \[[^]]*\]/"schemes": ["ovalis-e2e"]/' "$app/ovalis.json"
grep -q '"ovalis-e2e"' "$app/ovalis.json" || fail "the template names no scheme"

# The page reports its heading on every load, through its console.
OVALIS_INJECT="addEventListener('DOMContentLoaded', () => console.log('heading: ' + document.querySelector('h1').textContent))"
export OVALIS_INJECT
ovalis dev --wire "$app" >"$tmp/dev.log" 2>&1 &
dev=$!
pids="$pids $dev"
wait_for "$tmp/dev.log" "[backend] greeted world"
t1=$(now_ms)
echo "figure: ovalis new to a running window ($lang): $((t1 - t0)) ms"
wait_for "$tmp/dev.log" "[page] log: heading: Welcome to E2E App"
grep -qF '[wire] < CALL main:' "$tmp/dev.log" || fail "no wire trace"
grep -qF '[wire] > RET main:' "$tmp/dev.log" || fail "no wire trace of answers"

# A page edit reloads the page; the new text shows.
sed -i 's/Welcome to E2E App/Edited heading/' "$app/page/index.html"
wait_for "$tmp/dev.log" "[page] log: heading: Edited heading"
# A backend edit restarts the backend, and so the launcher and page.
case $lang in
  cpp) echo '// edited' >>"$app/backend/main.cpp" ;;
  python) echo '# edited' >>"$app/backend/main.py" ;;
  node) echo '// edited' >>"$app/backend/main.mjs" ;;
esac
wait_for "$tmp/dev.log" "[ovalis] restarting the backend"
wait_for "$tmp/dev.log" "[page] log: heading: Edited heading" 2
kill -INT "$dev"
st=0
wait "$dev" || st=$?
[ "$st" -eq 0 ] || fail "ovalis dev ended with $st"
unset OVALIS_INJECT

sh "$app/test/smoke.sh" >"$tmp/smoke.log" 2>&1 || fail "the project's own test failed"

# The application's own backend refuses the malformed file the same way.
case $lang in
  cpp) backend_cmd="$app/build/app-backend" ;;
  python)
    backend_cmd="python3 $app/backend/main.py"
    PYTHONPATH="$src/sdk/python"
    export PYTHONPATH
    ;;
  node) backend_cmd="node $app/backend/main.mjs" ;;
esac
st=0
OVALIS_APP_DIR="$tmp/bad" $backend_cmd 2>"$tmp/backend-bad.err" || st=$?
[ "$st" -ne 0 ] || fail "the backend started from a malformed ovalis.json"
grep -qxF "$tmp/bad/ovalis.json: window.width: expected an integer from 1 to 16384, got \"wide\"" "$tmp/backend-bad.err" ||
  fail "backend message: $(cat "$tmp/backend-bad.err")"

# ---- package, scratch install, desktop entry, URL open -----------------------
ovalis package --lint --maintainer "E2E <e2e@example.org>" "$app" >"$tmp/package.log" 2>&1 || fail "ovalis package"
deb=$(ls "$app"/dist/*.deb)
tarball=$(ls "$app"/dist/*.tar.gz)
echo "figure: packaged hello-world ($lang): $(stat -c %s "$deb") bytes .deb, $(stat -c %s "$tarball") bytes .tar.gz"
grep -q '^E:' "$tmp/package.log" && fail "lintian errors"

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
pkg=org-example-e2eapp
entry="$root/usr/share/applications/org.example.E2eApp.desktop"
[ -f "$entry" ] || fail "no desktop entry"
grep -q '^MimeType=.*x-scheme-handler/ovalis-e2e;' "$entry" || fail "no scheme in the desktop entry"
grep -q "^Exec=sh -c .*launcher --open .*/usr/bin/$pkg" "$entry" || fail "Exec does not go through launcher --open"
[ -f "$root/usr/share/icons/hicolor/48x48/apps/org.example.E2eApp.png" ] || fail "no 48x48 icon"
# The scratch root is not /: point the installed paths into it, and keep
# the application's output and process id for the checks below.
sed -i "s#/usr/bin/launcher#$build/launcher#; s#/usr/bin/$pkg#$root/usr/bin/$pkg#" "$entry"
sed -i "s#^exec /usr/bin/ovalis run /usr/lib/$pkg#echo \$\$ >$tmp/app.pid; exec $build/ovalis run $root/usr/lib/$pkg#; s#\"\$@\"\$#\"\$@\" >>$tmp/installed.log 2>\&1#" "$root/usr/bin/$pkg"
grep -q "installed.log" "$root/usr/bin/$pkg" || fail "cannot instrument $root/usr/bin/$pkg"

gio launch "$entry" >"$tmp/launch.log" 2>&1 || fail "gio launch"
wait_for "$tmp/installed.log" "greeted world"
pids="$pids $(cat "$tmp/app.pid")"
gio launch "$entry" "ovalis-e2e://open/this?x=1" >>"$tmp/launch.log" 2>&1 || fail "gio launch with a URL"
wait_for "$tmp/installed.log" 'open request {"url":"ovalis-e2e://open/this?x=1"}'
# Still one instance.
[ "$(grep -c 'greeted world' "$tmp/installed.log")" -eq 1 ] || fail "a second instance started"

# The relocatable tarball holds its program.
mkdir -p "$tmp/unpacked"
tar -xzf "$tarball" -C "$tmp/unpacked"
[ -x "$tmp/unpacked/$pkg-0.1.0/bin/$pkg" ] || fail "no program in the tarball"
echo "PASS ($lang)"

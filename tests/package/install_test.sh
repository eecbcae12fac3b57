#!/usr/bin/env bash
# The Debian packages as a user gets them: built and checked by lintian
# (scripts/make-deb), built a second time to the same bytes, installed into
# a scratch root, run from there under the test session's display, then
# purged without leaving a file behind.
#
#   tests/package/install_test.sh <build-folder>
#
# The scratch root is a dpkg database of its own (dpkg --root): a chroot
# with the whole desktop stack would have to fetch a few hundred packages
# on every run. The dependencies are checked against the host instead: apt
# must be able to satisfy every Depends line as the packages stand.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: install_test.sh <build-folder>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# One date for both packagings, even if a commit lands in between.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || stat -c %Y "$here/VERSION")}

echo "== packages and lintian"
"$here/scripts/make-deb" "$build"
debs=()
for p in "$build"/deb/*.deb; do [[ $p == *-dbgsym_* ]] || debs+=("$p"); done
for want in ovalis-launcher libovalis-backend-dev ovalis-demo; do
  ls "$build"/deb/${want}_*.deb >/dev/null 2>&1 || fail "no $want package"
done
for want in python3-ovalis node-ovalis-backend ovalis-launcher-dbgsym ovalis-demo-dbgsym; do
  ls "$build"/deb/${want}_*.deb >/dev/null 2>&1 || fail "no $want package"
done
mkdir "$work/first"
cp "$build"/deb/*.deb "$work/first/"

echo "== a second packaging of the same tree gives the same bytes"
"$here/scripts/make-deb" "$build" >/dev/null
for p in "$work"/first/*; do
  cmp -s "$p" "$build/deb/$(basename "$p")" || fail "$(basename "$p") differs between two builds"
done

echo "== the host can satisfy every dependency"
apt-get install --simulate -qq "${debs[@]}" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt cannot install the packages"; }

echo "== install into a scratch root"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
# Libraries and tools the packages depend on are the host's; only our own
# packages are in this root's database.
dpkg --root="$root" --force-depends --force-script-chrootless --force-not-root \
  --log=/dev/null -i "${debs[@]}" >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg -i"; }

v=$(head -n1 "$here/VERSION")
out=$("$root/usr/bin/launcher" --version) || fail "launcher --version exits $?"
[[ "$out" == *"$v"* ]] || fail "launcher --version says '$out', VERSION is $v"
out=$("$root/usr/bin/ovalis-demo" --version)
[[ "$out" == *"$v"* ]] || fail "ovalis-demo --version says '$out'"
for page in launcher ovalis ovalis-new ovalis-dev ovalis-package ovalis-demo; do
  f=$(ls "$root"/usr/share/man/man1/$page.1.gz 2>/dev/null) || fail "no manual page for $page"
  zcat "$f" | grep -q '^\.SH' || fail "manual page of $page has no sections"
done
out=$(PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c 'import ovalis; print(ovalis.__version__)')
[ "$out" = "$v" ] || fail "the Python library says version $out"
out=$(node -p "require('$root/usr/share/nodejs/ovalis-backend/package.json').version")
[ "$out" = "$v" ] || fail "the JavaScript library says version $out"
out=$(cd "$work" && node --input-type=module -e "import('$root/usr/share/nodejs/ovalis-backend/index.js').then(m => console.log(typeof m.line))")
[ "$out" = "object" ] || fail "the installed JavaScript library does not load ($out)"
out=$("$root/usr/bin/ovalis" --version) || fail "ovalis --version exits $?"
[[ "$out" == *"$v"* ]] || fail "ovalis --version says '$out'"
pc=$(ls "$root"/usr/lib/*/pkgconfig/ovalis-backend.pc) || fail "pkg-config file not in the multiarch folder"
PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --modversion ovalis-backend | grep -qx "$v" ||
  fail "pkg-config reports another version"

echo "== the installed demo runs the installed launcher"
shots="$work/shots"
( OVALIS_DEMO_SETTLE_MS=300 timeout 120 "$root/usr/bin/ovalis-demo" --tour "$shots" \
    >"$work/demo.log" 2>&1 || true ) &
demo=$!
for _ in $(seq 1 600); do
  ls "$shots"/*.png >/dev/null 2>&1 && break
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.2
done
pkill -TERM -f "$root/usr/bin/ovalis-demo" 2>/dev/null || true
wait "$demo" 2>/dev/null || true
grep -q "started $root/usr/bin/launcher" "$work/demo.log" ||
  { cat "$work/demo.log"; fail "the demo did not start the installed launcher"; }
grep -q '^<- CALL ' "$work/demo.log" || { cat "$work/demo.log"; fail "the page never called the backend"; }
first=$(ls "$shots"/*.png 2>/dev/null | head -n1)
[ -n "$first" ] || { cat "$work/demo.log"; fail "the demo drew no panel"; }
colours=$(convert "$first" -format '%k' info:)
[ "$colours" -gt 8 ] || fail "the demo's first panel is blank ($colours colours)"

echo "== purge leaves nothing behind"
names=$(for p in "${debs[@]}"; do dpkg-deb -f "$p" Package; done)
# shellcheck disable=SC2086
dpkg --root="$root" --force-depends --force-script-chrootless --force-not-root \
  --log=/dev/null -P $names >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P"; }
left=$(cd "$root" && find . -mindepth 1 ! -path './var/lib/dpkg*' ! -type d)
[ -z "$left" ] || fail "files left after purge: $left"
left=$(cd "$root" && find . -mindepth 1 -type d ! -path './var' ! -path './var/lib' ! -path './var/lib/dpkg*' | sort)
[ -z "$left" ] || fail "folders left after purge: $left"
echo "install_test: all checks passed"

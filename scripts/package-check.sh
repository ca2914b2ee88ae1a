#!/usr/bin/env bash
# package-check.sh <build-dir>: makes the Debian package from a built release tree and
# checks it: menu entry and AppStream data valid, lintian finds no error, and the
# unpacked package runs: Vendrik starts offscreen and ends cleanly on SIGTERM,
# vendrik-port and vendrik-cli answer --help, the shell completions are in place and
# answer.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
cmake --build "$build" -j"$(nproc)" --target Vendrik vendrik-cli vendrik-port meldor2-sim vendrik_docs >/dev/null
rm -f "$build"/vendrik_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vendrik_*.deb)
echo "package: $deb"

desktop-file-validate packaging/org.vendrik.Vendrik.desktop
appstreamcli validate --no-net packaging/org.vendrik.Vendrik.metainfo.xml >/dev/null
lintian --fail-on error --tag-display-limit 0 "$deb" 2>/dev/null

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/pkg"
"$root/pkg/usr/bin/vendrik-port" --help | grep -q '^Коды завершения:'
"$root/pkg/usr/bin/vendrik-cli" --help | grep -q '^Коды завершения:'
test -f "$root/pkg/usr/share/man/man1/vendrik-cli.1.gz"
# The completions, as a new bash finds them in the package.
completions=$root/pkg/usr/share/bash-completion/completions
for program in vendrik-cli vendrik-port meldor2-sim; do
  test -f "$completions/$program"
done
offered=$(bash --norc -c "source '$completions/vendrik-cli'; COMP_WORDS=(vendrik-cli wr); COMP_CWORD=1
  _vendrik_cli; echo \"\${COMPREPLY[*]}\"")
test "$offered" = write

# Started offscreen in a throw-away settings folder; "up" means the platform plugin is
# loaded and the process has gone idle in its message loop (no processor time used for
# half a second). Then SIGTERM must end it by that signal, not by a crash of its own.
mkdir -p "$root/config"
XDG_CONFIG_HOME="$root/config" QT_QPA_PLATFORM=offscreen "$root/pkg/usr/bin/Vendrik" \
  2>"$root/stderr" &
pid=$!
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null; }
up=0 last=-1 idle=0
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  if grep -q libqoffscreen "/proc/$pid/maps" 2>/dev/null; then
    now=$(cpu)
    if [ "$now" = "$last" ]; then idle=$((idle + 1)); else idle=0; fi
    last=$now
    if [ "$idle" -ge 5 ]; then up=1; break; fi
  fi
  sleep 0.1
done
if [ "$up" != 1 ]; then
  echo "Vendrik from the package did not come up:" >&2
  cat "$root/stderr" >&2
  kill -KILL "$pid" 2>/dev/null || true
  exit 1
fi
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 143 ]; then
  echo "Vendrik from the package ended with status $status:" >&2
  cat "$root/stderr" >&2
  exit 1
fi
echo "package checks passed (Vendrik came up and ended with status $status)"

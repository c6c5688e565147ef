#!/usr/bin/env bash
# CTest's emulator: runs PROGRAM.exe ARGS... under Wine in a prefix beside it,
# with Xvfb, one virtual desktop, and a socat pty pair whose ends are COM9
# (wine-tests/ttyWine) and wine-tests/ttyHost, kept for the next test.
# --stop BUILD_DIR ends them; so does a watcher, once the ctest run that
# started them has ended (all its tests, a filtered few, a failure, Ctrl+C).
set -euo pipefail
WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
if [ "${1:-}" = --stop ]; then dir=$(realpath -m "$2")/wine-tests; else dir=$(cd "$(dirname "$1")" && pwd)/wine-tests; fi
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d"
mkdir -p "$dir" && exec 9>"$dir/lock" && flock 9
# Daemons started here must not keep the lock, nor the output CTest reads.
quiet() { "$@" >/dev/null 2>&1 </dev/null 9>&-; }
alive() { [ -f "$dir/$1.pid" ] && kill -0 "$(cat "$dir/$1.pid")" 2>/dev/null; }

if [ "$1" = --stop ]; then
  [ -d "$WINEPREFIX" ] && quiet "$WINESERVER" -k || true
  for p in xvfb socat; do if alive $p; then kill "$(cat "$dir/$p.pid")"; fi; done
  # The watcher, unless this is it: its own session, so its wait goes with it.
  if alive watch && [ "$(cat "$dir/watch.pid")" != $$ ]; then
    kill -- "-$(cat "$dir/watch.pid")" || true
  fi
  [ -d "$WINEPREFIX" ] && { "$WINESERVER" -w 9>&- || true; }
  rm -f "$dir"/{xvfb.pid,display,warm,socat.pid,watch.pid,ttyWine,ttyHost}; exit 0
fi

# The ctest process this runs under (tests and the listing of tests alike),
# else the caller.
owner() {
  local p=$PPID
  while [ "$p" -gt 1 ]; do
    [ "$(cat "/proc/$p/comm" 2>/dev/null)" = ctest ] && { echo "$p"; return; }
    p=$(ps -o ppid= -p "$p" | tr -d ' ') || break
  done
  echo "$PPID"
}

if ! alive xvfb; then
  for n in $(seq 200 299); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null 9>&- &
    echo $! > "$dir/xvfb.pid"
    for _ in $(seq 100); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then echo ":$n" > "$dir/display"; break; fi
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
  done
  quiet "$WINESERVER" -k || true; rm -f "$dir/warm"  # its desktop belongs to the display it first met
  if alive watch; then kill -- "-$(cat "$dir/watch.pid")" || true; fi
  setsid bash -c 'tail --pid="$1" -f /dev/null; exec "$2" --stop "$3"' watch "$(owner)" \
    "$(realpath "$0")" "$(dirname "$dir")" >/dev/null 2>&1 </dev/null 9>&- &
  echo $! > "$dir/watch.pid"
fi
export DISPLAY=$(<"$dir/display")

if [ ! -f "$WINEPREFIX/.complete" ]; then
  rm -rf "$WINEPREFIX" && quiet "$WINE" wineboot -i
  quiet "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d TarvikTests /f
  quiet "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v TarvikTests /d 1024x768 /f
  "$WINESERVER" -w 9>&- && touch "$WINEPREFIX/.complete"
fi
# The pair is fresh for each run: bytes left in it would reach the next run's tests.
if ! alive socat; then
  rm -f "$dir/ttyWine" "$dir/ttyHost"
  setsid socat "pty,raw,echo=0,link=$dir/ttyWine" "pty,raw,echo=0,link=$dir/ttyHost" \
    >/dev/null 2>&1 </dev/null 9>&- &
  echo $! > "$dir/socat.pid"
  for _ in $(seq 100); do [ -e "$dir/ttyWine" ] && [ -e "$dir/ttyHost" ] && break; sleep 0.1; done
  [ -e "$dir/ttyWine" ] && [ -e "$dir/ttyHost" ] ||
    { echo "wine-run.sh: socat made no serial pair in $dir" >&2; kill "$(cat "$dir/socat.pid")"; exit 1; }
fi
ln -sfn "$dir/ttyWine" "$WINEPREFIX/dosdevices/com9"  # takes effect at once
quiet "$WINESERVER" -p || true  # already running: fine
# Wine's services inherit the first caller's output, so a first quiet call starts them.
if [ ! -f "$dir/warm" ]; then quiet "$WINE" cmd /c exit || true; touch "$dir/warm"; fi
flock -u 9
exec "$WINE" "$@" 9>&-

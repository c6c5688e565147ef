#!/usr/bin/env bash
# Runs a Windows test program under Wine, the way CTest calls an emulator:
#   wine-run.sh PROGRAM.exe ARGS...
# Its windows need a display and a desktop where they can take the focus: a
# headless X server (Xvfb) and a Wine virtual desktop in a private prefix
# beside the program, made once and kept, with the wineserver, for the whole
# test run. One pseudo-terminal pair (socat) stands for a serial cable for
# the run: the prefix's COM9 is one end (wine-tests/ttyWine), and
# wine-tests/ttyHost the other, which a test can open through Wine's Z: drive.
#   wine-run.sh --stop BUILD_DIR     ends the display, the pair and the wineserver
set -euo pipefail

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

if [ "${1:-}" = --stop ]; then
  dir=$2/wine-tests
else
  dir=$(cd "$(dirname "$1")" && pwd)/wine-tests
fi
mkdir -p "$dir"
export WINEPREFIX=$dir/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d"

exec 9>"$dir/lock"
flock 9

xvfb_alive() { [ -f "$dir/xvfb.pid" ] && kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; }
socat_alive() { [ -f "$dir/socat.pid" ] && kill -0 "$(cat "$dir/socat.pid")" 2>/dev/null; }

if [ "$1" = --stop ]; then
  [ -d "$WINEPREFIX" ] && "$WINESERVER" -k >/dev/null 2>&1 </dev/null 9>&- || true
  if xvfb_alive; then kill "$(cat "$dir/xvfb.pid")"; fi
  if socat_alive; then kill "$(cat "$dir/socat.pid")"; fi
  rm -f "$dir/xvfb.pid" "$dir/display" "$dir/warm" "$dir/socat.pid" "$dir/ttyWine" "$dir/ttyHost"
  exit 0
fi

if ! xvfb_alive; then
  for n in $(seq 200 299); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null 9>&- &
    echo $! > "$dir/xvfb.pid"
    for _ in $(seq 100); do
      DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
    if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
      echo ":$n" > "$dir/display"
      break
    fi
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
  done
  # The wineserver's desktop belongs to the display it first met.
  "$WINESERVER" -k >/dev/null 2>&1 </dev/null 9>&- || true
  rm -f "$dir/warm"
fi
export DISPLAY
DISPLAY=$(cat "$dir/display")

if [ ! -f "$WINEPREFIX/.complete" ]; then
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
  # Every program lands in one virtual desktop.
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d TarvikTests /f >/dev/null 2>&1 9>&-
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v TarvikTests /d 1024x768 /f \
    >/dev/null 2>&1 9>&-
  "$WINESERVER" -w 9>&-
  touch "$WINEPREFIX/.complete"
fi
# The serial pair, fresh for each run: bytes left in a pty's buffers would
# reach the next run's tests.
if ! socat_alive; then
  rm -f "$dir/ttyWine" "$dir/ttyHost"
  setsid socat "pty,raw,echo=0,link=$dir/ttyWine" "pty,raw,echo=0,link=$dir/ttyHost" \
    >/dev/null 2>&1 </dev/null 9>&- &
  echo $! > "$dir/socat.pid"
  for _ in $(seq 100); do
    [ -e "$dir/ttyWine" ] && [ -e "$dir/ttyHost" ] && break
    sleep 0.1
  done
  if ! [ -e "$dir/ttyWine" ] || ! [ -e "$dir/ttyHost" ]; then
    echo "wine-run.sh: socat did not make the serial pair in $dir" >&2
    kill "$(cat "$dir/socat.pid")" 2>/dev/null || true
    rm -f "$dir/socat.pid"
    exit 1
  fi
fi
# Takes effect at once, without a wineserver restart.
ln -sfn "$dir/ttyWine" "$WINEPREFIX/dosdevices/com9"
# Daemons started here must not keep the lock, nor the output CTest reads.
"$WINESERVER" -p >/dev/null 2>&1 </dev/null 9>&- || true  # already running: fine
# Wine's services inherit the first caller's output: they must not hold the
# pipe CTest reads, so a first quiet call starts them.
if [ ! -f "$dir/warm" ]; then
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null 9>&- || true
  touch "$dir/warm"
fi
flock -u 9
exec "$WINE" "$@" 9>&-

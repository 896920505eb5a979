#!/usr/bin/env bash
# The tool against the simulated detector.
#   tools/demo.sh <builddir> [factory]
# Makes <builddir>/demo (or demo-factory) as the program directory, starts the
# simulated detector on <folder>/ttyVARNO and the window on that port, and
# stops the simulator when the window closes. Without a display it reads the
# unit with the command line tool instead.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != "factory" ]; }; then
  echo "usage: $0 <builddir> [factory]" >&2
  exit 2
fi

BUILD="$(cd "$1" && pwd)"
MODE="${2:-user}"
if [ "$MODE" = "factory" ]; then
  FOLDER="$BUILD/demo-factory"
else
  FOLDER="$BUILD/demo"
fi

SIM="$BUILD/sim/varnolite-sim"
GUI="$BUILD/src/ui/beamdock"
CLI="$BUILD/cli/beamdock-cli"
PORT="$FOLDER/ttyVARNO"

mkdir -p "$FOLDER"
# Written once; later runs keep what the tool wrote back (window geometry,
# save folders). Each folder belongs to one mode. The factory window starts
# wider than the tool's default so that the trace beside it leaves room for
# the pages.
if [ ! -f "$FOLDER/LUMBRA.INI" ]; then
  if [ "$MODE" = "factory" ]; then
    printf '[Environment]\r\nModeEntry=ZTR_ENG__\r\n[ETC]\r\nLogEnable=1\r\n[WINDOW]\r\nWIDTH=820\r\nHEIGHT=750\r\n' \
      >"$FOLDER/LUMBRA.INI"
  else
    printf '[Environment]\r\nModeEntry=USER\r\n' >"$FOLDER/LUMBRA.INI"
  fi
fi

if [ ! -x "$SIM" ]; then
  echo "$SIM is missing: build first (./build.sh build)" >&2
  exit 1
fi

SIM_PID=""
stop_sim() {
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

rm -f "$PORT"
"$SIM" --link "$PORT" --state "$FOLDER/detector.state" >"$FOLDER/sim.out" &
SIM_PID=$!
for _ in $(seq 1 50); do
  [ -e "$PORT" ] && break
  if ! kill -0 "$SIM_PID" 2>/dev/null; then
    echo "the simulator did not start:" >&2
    cat "$FOLDER/sim.out" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -e "$PORT" ]; then
  echo "the simulator did not create $PORT" >&2
  exit 1
fi
echo "simulated detector on $PORT (program directory $FOLDER, $MODE mode)"

cd "$FOLDER"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "no display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): reading the unit with beamdock-cli instead"
  "$CLI" --port "$PORT" --dir "$FOLDER" read
else
  "$GUI" --port "$PORT"
fi

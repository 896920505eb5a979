#!/usr/bin/env bash
# The tool against the simulated detector, in a working folder of its own.
set -euo pipefail
BUILD="$1"; shift || true
WORK="$BUILD/demo"
mkdir -p "$WORK"
LINK="$WORK/ttyVARNO"
"$BUILD/sim/varnolite-sim" --link "$LINK" --state "$WORK/detector.state" > "$WORK/sim.out" &
SIM=$!
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done
cd "$WORK"
"$BUILD/cli/beamdock-cli" --port "$LINK" --trace read

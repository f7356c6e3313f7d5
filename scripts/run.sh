#!/bin/sh
# Installs what is missing, builds KVAAgent and starts it beside the local track simulator
# (sign in with demo@kelvara.local / demo-driver). Without a display the agent runs on a
# virtual one (Xvfb) until it has saved a picture of its window, then closes.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$ROOT/build"

PIDS=""
trap 'for PID in $PIDS; do kill $PID 2>/dev/null || true; done' EXIT
./sim/kva-tracksim &
PIDS="$PIDS $!"

if [ -n "${DISPLAY:-}" ]; then
  ./agent/KVAAgent -d "$@"
  exit 0
fi

SCREENSHOT="$ROOT/build/KVAAgent-window.png"
rm -f "$SCREENSHOT"
DISPLAY_NUMBER=99
while [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ]; do DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1)); done
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
PIDS="$PIDS $!"
export DISPLAY=":$DISPLAY_NUMBER"
sleep 1

KVA_SCREENSHOT="$SCREENSHOT" ./agent/KVAAgent -d "$@" &
AGENT_PID=$!
for _ in $(seq 1 300); do
  [ -s "$SCREENSHOT" ] && break
  kill -0 $AGENT_PID 2>/dev/null || break
  sleep 0.1
done
kill -TERM $AGENT_PID 2>/dev/null || true
wait $AGENT_PID || true
if [ -s "$SCREENSHOT" ]; then
  echo "KVAAgent ran on a virtual display; its window: $SCREENSHOT"
else
  echo "KVAAgent did not show its window" >&2
  exit 1
fi

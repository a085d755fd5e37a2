#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it on the built-in simulated camera
# network. Without a display it starts a virtual one, saves a screenshot of the window to
# screenshots/kpdevicetool.png and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

BUILD_DIR=${BUILD_DIR:-build}
GENERATOR=()
command -v ninja >/dev/null 2>&1 && GENERATOR=(-G Ninja)
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then GENERATOR=(); fi
cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target kpdevicetool

TOOL="$ROOT/$BUILD_DIR/kpdevicetool"
# The tool keeps its device list and log folder in its working directory.
mkdir -p "$ROOT/run"
cd "$ROOT/run"

if [ -n "${DISPLAY:-}" ]; then
  exec "$TOOL" "$@"
fi

SHOT_DIR="$ROOT/screenshots"
SHOT="$SHOT_DIR/kpdevicetool.png"
mkdir -p "$SHOT_DIR"
DISPLAY_NUMBER=${KP_XVFB_DISPLAY:-97}
Xvfb ":$DISPLAY_NUMBER" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
cleanup() {
  [ -n "${TOOL_PID:-}" ] && kill "$TOOL_PID" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$TOOL" "$@" &
TOOL_PID=$!
sleep "${KP_SCREENSHOT_DELAY:-4}"
if ! kill -0 "$TOOL_PID" 2>/dev/null; then
  echo "kpdevicetool exited before the screenshot" >&2
  exit 1
fi
import -window root -crop 1400x850+0+0 "$SHOT"
echo "Screenshot of the window saved to $SHOT"

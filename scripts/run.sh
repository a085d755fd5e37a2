#!/usr/bin/env bash
# Installs what is missing, builds the tool and starts it on the built-in simulated camera
# network. Without a display it starts a virtual one, saves a screenshot of the window to
# screenshots/kpdevicetool.png and exits.
#
#   bash scripts/run.sh --docs    the README's pictures (docs/screenshot*.png): both pages of the
#                                 window on a virtual display, a batch in progress, failed rows
#                                 with their reasons, the question a close asks during the batch,
#                                 and the window on a 1366 x 768 screen
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/install-deps.sh

# start_virtual_display [WIDTHxHEIGHT] [display number]
start_virtual_display() {
  DISPLAY_NUMBER=${2:-${KP_XVFB_DISPLAY:-97}}
  Xvfb ":$DISPLAY_NUMBER" -screen 0 "${1:-1600x1000}x24" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$DISPLAY_NUMBER"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

if [ "${1:-}" = "--docs" ]; then
  BUILD_DIR=${BUILD_DIR:-build}
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD_DIR" --parallel 2 --target main_window_picture
  SCRATCH=$(mktemp -d)
  trap 'kill "${XVFB_PID:-}" 2>/dev/null || true; rm -rf "$SCRATCH"' EXIT
  /usr/bin/python3 third_part/RuDAVADO/tools/make_firmware.py "$SCRATCH/firmware" >/dev/null
  start_virtual_display
  (cd "$SCRATCH" && "$ROOT/$BUILD_DIR/benchmarks/main_window_picture" firmware/KP-LPR-V3_3.2.2.0.bin \
    "$ROOT/docs/screenshot.png" "$ROOT/docs/screenshot-local.png" "$ROOT/docs/screenshot-failures.png" \
    "$ROOT/docs/screenshot-close.png" >/dev/null)
  # A laptop's screen: the window fits it, title bar buttons and all.
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  start_virtual_display 1366x768 $(( ${KP_XVFB_DISPLAY:-97} + 1 ))
  rm -rf "$SCRATCH/laptop" && mkdir -p "$SCRATCH/laptop"
  (cd "$SCRATCH/laptop" && "$ROOT/$BUILD_DIR/benchmarks/main_window_picture" --whole-screen \
    "$ROOT/docs/screenshot-1366x768.png" >/dev/null)
  echo "Pictures saved to docs/screenshot.png, docs/screenshot-local.png, docs/screenshot-failures.png," \
    "docs/screenshot-close.png and docs/screenshot-1366x768.png"
  exit 0
fi

BUILD_DIR=${BUILD_DIR:-build}
GENERATOR=()
command -v ninja >/dev/null 2>&1 && GENERATOR=(-G Ninja)
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then GENERATOR=(); fi
cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target kpdevicetool

TOOL="$ROOT/$BUILD_DIR/kpdevicetool"
# The tool keeps its device list and log folder in its working directory. Sample firmware
# packages for the simulated cameras wait in run/firmware/, so an upgrade can be tried at once.
mkdir -p "$ROOT/run"
if [ ! -d "$ROOT/run/firmware" ]; then
  /usr/bin/python3 third_part/RuDAVADO/tools/make_firmware.py "$ROOT/run/firmware" >/dev/null
fi
cd "$ROOT/run"

if [ -n "${DISPLAY:-}" ]; then
  exec "$TOOL" "$@"
fi

SHOT_DIR="$ROOT/screenshots"
SHOT="$SHOT_DIR/kpdevicetool.png"
mkdir -p "$SHOT_DIR"
cleanup() {
  [ -n "${TOOL_PID:-}" ] && kill "$TOOL_PID" 2>/dev/null || true
  kill "${XVFB_PID:-}" 2>/dev/null || true
}
trap cleanup EXIT
start_virtual_display

"$TOOL" "$@" &
TOOL_PID=$!
sleep "${KP_SCREENSHOT_DELAY:-4}"
if ! kill -0 "$TOOL_PID" 2>/dev/null; then
  echo "kpdevicetool exited before the screenshot" >&2
  exit 1
fi
import -window root -crop 1400x850+0+0 "$SHOT"
echo "Screenshot of the window saved to $SHOT"

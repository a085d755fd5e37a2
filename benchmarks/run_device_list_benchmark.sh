#!/usr/bin/env bash
# Saves and loads a 65,535-device list with our store and with the peers, on this machine.
#   benchmarks/run_device_list_benchmark.sh BUILD_DIR [NODE_MODULES_DIR]
# NODE_MODULES_DIR holds the npm "xlsx" package (npm install --prefix SOMEWHERE xlsx); without
# it the xlsx figures are left out. Runs each measurement 5 times, interleaved and prints every figure.
set -euo pipefail
BUILD_DIR=${1:?build folder}
NODE_MODULES=${2:-}
HERE=$(cd "$(dirname "$0")" && pwd)
BENCH=$(find "$BUILD_DIR" -name kp_database_bench -type f -perm -u+x | head -1)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for run in 1 2 3 4 5; do
  "$BENCH" save "$WORK"
  "$BENCH" load "$WORK"
  /usr/bin/python3 "$HERE/device_list_xlrd.py" "$WORK/devicedatamanager.xls"
  if [ -n "$NODE_MODULES" ]; then
    NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" write "$WORK/xlsx-written.xls"
    NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" read "$WORK/devicedatamanager.xls"
  fi
done
ls -l "$WORK"/*.xls

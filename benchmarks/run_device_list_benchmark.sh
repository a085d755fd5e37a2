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
  "$BENCH" save "$WORK" | tee -a "$WORK/figures"
  "$BENCH" load "$WORK" | tee -a "$WORK/figures"
  /usr/bin/python3 "$HERE/device_list_xlrd.py" "$WORK/devicedatamanager.xls" | tee -a "$WORK/figures"
  if [ -n "$NODE_MODULES" ]; then
    NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" write "$WORK/xlsx-written.xls"
    NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" read "$WORK/devicedatamanager.xls"
  fi
done
ls -l "$WORK"/*.xls
# Per run: save time over one write+fsync of the file's bytes, load time against xlrd's, and the
# load's peak memory (over the process's starting footprint) against the file's size.
/usr/bin/python3 - "$WORK/figures" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
saves = [r for r in rows if r["tool"] == "ours" and r["op"] == "save"]
loads = [r for r in rows if r["tool"] == "ours" and r["op"] == "load"]
xlrd = [r for r in rows if r["tool"] == "xlrd"]
for save, load, peer in zip(saves, loads, xlrd):
    print("save x write+fsync %.2f   xlrd / load %.1f   load peak / file %.2f" % (
        save["ms"] / save["write_fsync_ms"], peer["ms"] / load["ms"],
        (load["peak_kb"] - load["rss_before_kb"]) * 1024 / save["file_bytes"]))
PY

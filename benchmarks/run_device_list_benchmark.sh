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
# load's peak memory (over the process's starting footprint) against the file's size; then the
# medians, in wall and in processor time (the machine may be shared, the processor time is steadier).
/usr/bin/python3 - "$WORK/figures" <<'PY'
import json, os, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
saves = [r for r in rows if r["tool"] == "ours" and r["op"] == "save"]
loads = [r for r in rows if r["tool"] == "ours" and r["op"] == "load"]
xlrd = [r for r in rows if r["tool"] == "xlrd"]
for save, load, peer in zip(saves, loads, xlrd):
    print("save x write+fsync %.2f   xlrd / load %.1f (cpu %.1f)   load peak / file %.2f" % (
        save["ms"] / save["write_fsync_ms"], peer["ms"] / load["ms"], peer["cpu_ms"] / load["cpu_ms"],
        (load["peak_kb"] - load["rss_before_kb"]) * 1024 / save["file_bytes"]))
med = lambda rs, key: statistics.median(r[key] for r in rs)
print("median: save %.1f ms (cpu %.1f), write+fsync %.1f ms, ratio %.2f" % (
    med(saves, "ms"), med(saves, "cpu_ms"), med(saves, "write_fsync_ms"),
    statistics.median(s["ms"] / s["write_fsync_ms"] for s in saves)))
print("median: load %.1f ms (cpu %.1f), xlrd %.1f ms (cpu %.1f), xlrd / load %.1f (cpu %.1f)" % (
    med(loads, "ms"), med(loads, "cpu_ms"), med(xlrd, "ms"), med(xlrd, "cpu_ms"),
    statistics.median(p["ms"] / l["ms"] for l, p in zip(loads, xlrd)),
    statistics.median(p["cpu_ms"] / l["cpu_ms"] for l, p in zip(loads, xlrd))))
print("load average: %.2f %.2f %.2f" % os.getloadavg())
PY

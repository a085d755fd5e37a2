#!/usr/bin/env bash
# Saves and loads device lists with our store and with the peers, on this machine.
#   benchmarks/run_device_list_benchmark.sh BUILD_DIR [NODE_MODULES_DIR]
# SIZES (default "65535") lists the device counts, e.g. SIZES="1000 10000 40000 65535" for the
# growth table; RUNS (default 5) the runs of each. NODE_MODULES_DIR holds the npm "xlsx" package
# (npm install --prefix SOMEWHERE xlsx); without it the xlsx figures are left out. Every run sets
# our save and load beside their references in turn (save, write+fsync, safe-write floor, load,
# xlrd), so that each ratio pairs figures taken within moments of each other.
set -euo pipefail
BUILD_DIR=${1:?build folder}
NODE_MODULES=${2:-}
SIZES=${SIZES:-65535}
RUNS=${RUNS:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
BENCH=$(find "$BUILD_DIR" -name kp_database_bench -type f -perm -u+x | head -1)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for devices in $SIZES; do
  for run in $(seq "$RUNS"); do
    "$BENCH" save "$WORK" "$devices" >>"$WORK/figures"
    "$BENCH" load "$WORK" "$devices" >>"$WORK/figures"
    /usr/bin/python3 "$HERE/device_list_xlrd.py" "$WORK/devicedatamanager.xls" >>"$WORK/figures"
    if [ -n "$NODE_MODULES" ]; then
      NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" write "$WORK/xlsx-written.xls"
      NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" read "$WORK/devicedatamanager.xls"
    fi
  done
done
# Per run: the save against one write+fsync of the file's bytes and against the safe-write floor,
# xlrd's load time over ours (wall and processor time), and the load's peak memory for the whole
# process against the file's size; then each figure's median and range, and the growth table.
/usr/bin/python3 - "$WORK/figures" <<'PY'
import json, os, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
saves = [r for r in rows if r["tool"] == "ours" and r["op"] == "save"]
loads = [r for r in rows if r["tool"] == "ours" and r["op"] == "load"]
xlrd = [r for r in rows if r["tool"] == "xlrd"]
def spread(values, fmt):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values), max(values))
growth = []
for devices in sorted({s["devices"] for s in saves}):
    runs = [(s, l, x) for s, l, x in zip(saves, loads, xlrd) if s["devices"] == devices]
    print("%d devices, %d bytes:" % (devices, runs[0][0]["file_bytes"]))
    for s, l, x in runs:
        print("  save / write+fsync %.2f (%.1f / %.1f ms)   save / safe-write floor %.2f   xlrd / load %.1f (%.1f / %.1f ms,"
              " waiting %.1f / %.1f ms; cpu %.1f)   peak / file %.2f" % (
                  s["ms"] / s["write_fsync_ms"], s["ms"], s["write_fsync_ms"], s["ms"] / s["safe_write_ms"],
                  x["ms"] / l["ms"], x["ms"], l["ms"], x["run_queue_wait_ms"], l["run_queue_wait_ms"],
                  x["cpu_ms"] / l["cpu_ms"], l["peak_kb"] * 1024 / s["file_bytes"]))
    print("  median (min-max): save / write+fsync " + spread([s["ms"] / s["write_fsync_ms"] for s, _, _ in runs], "%.2f")
          + ", save / floor " + spread([s["ms"] / s["safe_write_ms"] for s, _, _ in runs], "%.2f")
          + ", floor / write+fsync " + spread([s["safe_write_ms"] / s["write_fsync_ms"] for s, _, _ in runs], "%.2f"))
    # On a shared machine both sides wait for a processor: without that wait, what the save itself
    # costs beside what the disk costs.
    print("  median (min-max): without waiting for a processor, save / write+fsync " + spread(
        [(s["ms"] - s["run_queue_wait_ms"]) / (s["write_fsync_ms"] - s["write_fsync_run_queue_wait_ms"])
         for s, _, _ in runs], "%.2f")
          + ", save's wait for a processor " + spread([s["run_queue_wait_ms"] for s, _, _ in runs], "%.1f") + " ms"
          + ", save cpu " + spread([s["cpu_ms"] for s, _, _ in runs], "%.1f") + " ms"
          + " (kernel " + spread([s["sys_ms"] for s, _, _ in runs], "%.1f") + " ms, "
          + "%d page faults)" % statistics.median(s["page_faults"] for s, _, _ in runs))
    # Both sides of a load wait for a processor too: the wall ratio without that wait as well.
    print("  median (min-max): xlrd / load " + spread([x["ms"] / l["ms"] for _, l, x in runs], "%.1f")
          + ", without waiting for a processor " + spread(
              [(x["ms"] - x["run_queue_wait_ms"]) / (l["ms"] - l["run_queue_wait_ms"]) for _, l, x in runs], "%.1f")
          + ", cpu " + spread([x["cpu_ms"] / l["cpu_ms"] for _, l, x in runs], "%.1f")
          + ", whole-process peak / file " + spread([l["peak_kb"] * 1024 / s["file_bytes"] for s, l, _ in runs], "%.2f"))
    print("  median (min-max): load's wait for a processor " + spread([l["run_queue_wait_ms"] for _, l, _ in runs], "%.1f")
          + " ms, xlrd's " + spread([x["run_queue_wait_ms"] for _, _, x in runs], "%.1f") + " ms, load cpu "
          + spread([l["cpu_ms"] for _, l, _ in runs], "%.1f") + " ms (kernel " + spread([l["sys_ms"] for _, l, _ in runs], "%.1f")
          + " ms, %d page faults)" % statistics.median(l["page_faults"] for _, l, _ in runs))
    growth.append((devices, statistics.median(l["ms"] for _, l, _ in runs), statistics.median(l["cpu_ms"] for _, l, _ in runs),
                   statistics.median(s["ms"] for s, _, _ in runs), statistics.median(s["cpu_ms"] for s, _, _ in runs)))
print("growth (medians): devices, load ms, load cpu ms, load cpu us/row, save ms, save cpu ms, save cpu us/row")
for devices, lms, lcpu, sms, scpu in growth:
    print("  %6d  %7.1f  %7.1f  %5.2f  %7.1f  %7.1f  %5.2f" % (devices, lms, lcpu, 1000 * lcpu / devices, sms, scpu, 1000 * scpu / devices))
print("load average: %.2f %.2f %.2f" % os.getloadavg())
PY

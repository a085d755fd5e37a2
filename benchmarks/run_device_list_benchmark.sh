#!/usr/bin/env bash
# Saves and loads device lists with our store and with the peers, on this machine.
#   benchmarks/run_device_list_benchmark.sh BUILD_DIR [NODE_MODULES_DIR]
# SIZES (default "65535") lists the device counts, e.g. SIZES="1000 10000 40000 65535" for the
# growth table; RUNS (default 5) the runs of each; READS (default 3) the loads of each reader in a
# run. NODE_MODULES_DIR holds the npm "xlsx" package (npm install --prefix SOMEWHERE xlsx); without
# it the xlsx figures are left out. Every run sets our save beside its references (write+fsync,
# safe-write floor), then reads the list READS times with our store and with xlrd, in turn and
# in alternating order (ours, xlrd, xlrd, ours, ours, ...), so that neither reader always comes
# first after the save, and each figure pairs readings taken within moments of each other. Each
# load is a process of its own, timed from inside as xlrd's script times itself.
set -euo pipefail
BUILD_DIR=${1:?build folder}
NODE_MODULES=${2:-}
SIZES=${SIZES:-65535}
RUNS=${RUNS:-5}
READS=${READS:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
BENCH=$(find "$BUILD_DIR" -name kp_database_bench -type f -perm -u+x | head -1)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

ours() { "$BENCH" load "$WORK" "$1" >>"$WORK/figures"; }
theirs() { /usr/bin/python3 "$HERE/device_list_xlrd.py" "$WORK/devicedatamanager.xls" >>"$WORK/figures"; }
for devices in $SIZES; do
  for run in $(seq "$RUNS"); do
    echo "{\"tool\": \"run\", \"devices\": $devices}" >>"$WORK/figures"
    "$BENCH" save "$WORK" "$devices" >>"$WORK/figures"
    for read in $(seq "$READS"); do
      if [ $((read % 2)) = 1 ]; then ours "$devices"; theirs; else theirs; ours "$devices"; fi
    done
    if [ -n "$NODE_MODULES" ]; then
      NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" write "$WORK/xlsx-written.xls"
      NODE_PATH="$NODE_MODULES" node "$HERE/device_list_peers.js" read "$WORK/devicedatamanager.xls"
    fi
  done
done
# Per run: the save against one write+fsync of the file's bytes and against the safe-write floor,
# xlrd's load time over ours (the medians of the run's loads; wall and processor time), and the
# load's peak memory for the whole process against the file's size; then each figure's median and
# range over the runs, the lowest ratio of a single load beside its xlrd neighbour, and the growth
# table.
/usr/bin/python3 - "$WORK/figures" <<'PY'
import json, os, statistics, sys
runs = []
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r["tool"] == "run":
        runs.append({"devices": r["devices"], "save": None, "loads": [], "xlrd": []})
    elif r["tool"] == "ours" and r["op"] == "save":
        runs[-1]["save"] = r
    elif r["tool"] == "ours" and r["op"] == "load":
        runs[-1]["loads"].append(r)
    elif r["tool"] == "xlrd":
        runs[-1]["xlrd"].append(r)
med = statistics.median
def spread(values, fmt):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (med(values), min(values), max(values))
def m(rows, key):
    return med(r[key] for r in rows)
def own(rows):  # wall time without the wait for a processor
    return med(r["ms"] - r["run_queue_wait_ms"] for r in rows)
growth = []
for devices in sorted({run["devices"] for run in runs}):
    here = [run for run in runs if run["devices"] == devices]
    saves = [run["save"] for run in here]
    print("%d devices, %d bytes, %d loads a run with each reader:" % (devices, saves[0]["file_bytes"], len(here[0]["loads"])))
    for run in here:
        s, l, x = run["save"], run["loads"], run["xlrd"]
        print("  save / write+fsync %.2f (%.1f / %.1f ms)   save / safe-write floor %.2f   xlrd / load %.1f (%.1f / %.1f ms,"
              " waiting %.1f / %.1f ms; cpu %.1f; single loads %.1f-%.1f)   peak / file %.2f" % (
                  s["ms"] / s["write_fsync_ms"], s["ms"], s["write_fsync_ms"], s["ms"] / s["safe_write_ms"],
                  m(x, "ms") / m(l, "ms"), m(x, "ms"), m(l, "ms"), m(x, "run_queue_wait_ms"), m(l, "run_queue_wait_ms"),
                  m(x, "cpu_ms") / m(l, "cpu_ms"), min(a["ms"] / b["ms"] for a, b in zip(x, l)),
                  max(a["ms"] / b["ms"] for a, b in zip(x, l)), m(l, "peak_kb") * 1024 / s["file_bytes"]))
    print("  median (min-max): save / write+fsync " + spread([s["ms"] / s["write_fsync_ms"] for s in saves], "%.2f")
          + ", save / floor " + spread([s["ms"] / s["safe_write_ms"] for s in saves], "%.2f")
          + ", floor / write+fsync " + spread([s["safe_write_ms"] / s["write_fsync_ms"] for s in saves], "%.2f"))
    # On a shared machine both sides wait for a processor: without that wait, what the save itself
    # costs beside what the disk costs.
    print("  median (min-max): without waiting for a processor, save / write+fsync " + spread(
        [(s["ms"] - s["run_queue_wait_ms"]) / (s["write_fsync_ms"] - s["write_fsync_run_queue_wait_ms"]) for s in saves], "%.2f")
          + ", save's wait for a processor " + spread([s["run_queue_wait_ms"] for s in saves], "%.1f") + " ms"
          + ", save cpu " + spread([s["cpu_ms"] for s in saves], "%.1f") + " ms"
          + " (kernel " + spread([s["sys_ms"] for s in saves], "%.1f") + " ms, "
          + "%d page faults)" % med(s["page_faults"] for s in saves))
    # Both sides of a load wait for a processor too: the wall ratio without that wait as well.
    loads = [l for run in here for l in run["loads"]]
    print("  median (min-max) of the runs: xlrd / load " + spread([m(r["xlrd"], "ms") / m(r["loads"], "ms") for r in here], "%.1f")
          + ", without waiting for a processor " + spread([own(r["xlrd"]) / own(r["loads"]) for r in here], "%.1f")
          + ", cpu " + spread([m(r["xlrd"], "cpu_ms") / m(r["loads"], "cpu_ms") for r in here], "%.1f")
          + ", whole-process peak / file " + spread([m(r["loads"], "peak_kb") * 1024 / r["save"]["file_bytes"] for r in here], "%.2f"))
    pairs = [a["ms"] / b["ms"] for r in here for a, b in zip(r["xlrd"], r["loads"])]
    print("  single loads beside their xlrd neighbour: xlrd / load " + spread(pairs, "%.1f")
          + ", %d of %d under 8" % (sum(p < 8 for p in pairs), len(pairs)))
    print("  median (min-max) of every load: wait for a processor " + spread([l["run_queue_wait_ms"] for l in loads], "%.1f")
          + " ms, xlrd's " + spread([x["run_queue_wait_ms"] for r in here for x in r["xlrd"]], "%.1f") + " ms, load cpu "
          + spread([l["cpu_ms"] for l in loads], "%.1f") + " ms (kernel " + spread([l["sys_ms"] for l in loads], "%.1f")
          + " ms, %d page faults)" % med(l["page_faults"] for l in loads))
    growth.append((devices, m(loads, "ms"), m(loads, "cpu_ms"), m(saves, "ms"), m(saves, "cpu_ms")))
print("growth (medians): devices, load ms, load cpu ms, load cpu us/row, save ms, save cpu ms, save cpu us/row")
for devices, lms, lcpu, sms, scpu in growth:
    print("  %6d  %7.1f  %7.1f  %5.2f  %7.1f  %7.1f  %5.2f" % (devices, lms, lcpu, 1000 * lcpu / devices, sms, scpu, 1000 * scpu / devices))
print("load average: %.2f %.2f %.2f" % os.getloadavg())
PY

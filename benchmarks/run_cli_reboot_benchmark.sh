#!/usr/bin/env bash
# `kpdevicetool-cli run reboot` as the user runs it, a whole process each time, on N simulated
# cameras against the same command on one camera of the same network.
#   benchmarks/run_cli_reboot_benchmark.sh BUILD_DIR [CAMERAS...]   (default 1000 10000)
# RUNS (default 5) pairs per size, one camera and N cameras in turn, so that each ratio pairs two
# runs taken within moments of each other. KP_TIME_SCALE (default 80) makes one camera's reboot
# take about 2 s; CLI names another build's program. Prints per size each pair's wall times and
# ratio, the batch's CPU per camera, and the median and range of each; beside each pair, the floor
# that a thread per camera puts under any batch (thread_floor_bench).
set -euo pipefail
BUILD_DIR=${1:?build folder}
shift
[ $# -gt 0 ] || set -- 1000 10000
SIZES=("$@")
RUNS=${RUNS:-5}
SCALE=${KP_TIME_SCALE:-80}
CLI=${CLI:-$(find "$(cd "$BUILD_DIR" && pwd)" -name kpdevicetool-cli -type f -perm -u+x | head -1)}
[ -n "$CLI" ] || { echo "kpdevicetool-cli not built in $BUILD_DIR" >&2; exit 2; }
FLOOR=$(find "$(cd "$BUILD_DIR" && pwd)" -name thread_floor_bench -type f -perm -u+x | head -1)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Cameras 10.3.0.1 onwards, in address order.
address() { local i=$(($1 + 1)); echo "10.3.$((i / 256)).$((i % 256))"; }

for cameras in "${SIZES[@]}"; do
  /usr/bin/python3 - "$cameras" >"$WORK/scenario.json" <<'PY'
import json, sys
n = int(sys.argv[1])
cams = []
for i in range(n):
    j = i + 1
    cams.append({"model": "KP-LPR-V3", "ip": "10.3.%d.%d" % (j // 256, j % 256),
                 "netmask": "255.0.0.0", "gateway": "10.255.255.254", "serial_low": 90000 + i})
json.dump({"cameras": cams}, sys.stdout)
PY
  last=$(address $((cameras - 1)))
  for run in $(seq "$RUNS"); do
    for targets in 10.3.0.1 "10.3.0.1-$last"; do
      rm -rf "$WORK/home" && mkdir "$WORK/home"
      # time's %e counts hundredths, 0.005 of a ratio: the wall time is read to the microsecond.
      start=$(date +%s%N)
      (cd "$WORK/home" && RUDAVADO_SCENARIO="$WORK/scenario.json" KP_TIME_SCALE="$SCALE" \
        /usr/bin/time -f "$cameras $targets %e %U %S %M" -a -o "$WORK/figures" \
        "$CLI" run reboot --targets "$targets" --password tolvi --reports "$WORK/home/reports" \
        >"$WORK/out" 2>/dev/null) || { echo "run failed: $targets" >&2; tail -3 "$WORK/out" >&2; exit 1; }
      echo $((($(date +%s%N) - start) / 1000)) >>"$WORK/walls"
    done
    # The same moment's floor: a thread per camera that only sleeps 2 s, against one.
    if [ -n "$FLOOR" ]; then
      echo "$cameras floor $("$FLOOR" 1 | cut -d' ' -f2) $("$FLOOR" "$cameras" | cut -d' ' -f2)" >>"$WORK/floor"
    fi
  done
done

touch "$WORK/floor"
/usr/bin/python3 - "$WORK/figures" "$(nproc)" "$WORK/floor" "$WORK/walls" <<'PY'
import os, statistics, sys
rows = [line.split() for line in open(sys.argv[1]) if line.strip()]
# Each run's wall time from the clock around it, in the same order as time's lines.
for row, wall in zip(rows, [line for line in open(sys.argv[4]) if line.strip()]):
    row[2] = str(int(wall) / 1e6)
floors = [line.split() for line in open(sys.argv[3]) if line.strip()]
def spread(values, fmt):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values), max(values))
print("load average %.2f %.2f %.2f, %s processors" % (os.getloadavg() + (sys.argv[2],)))
for size in dict.fromkeys(r[0] for r in rows):
    mine = [r for r in rows if r[0] == size]
    singles = [float(r[2]) for r in mine if "-" not in r[1]]
    batches = [r for r in mine if "-" in r[1]]
    walls = [float(r[2]) for r in batches]
    cpu_us = [(float(r[3]) + float(r[4])) * 1e6 / int(size) for r in batches]
    ratios = [b / s for b, s in zip(walls, singles)]
    print("%s cameras: one camera %s s, batch %s s, ratio %s (pairs: %s); batch CPU %s us a camera, "
          "peak memory %s MiB" % (size, spread(singles, "%.3f"), spread(walls, "%.3f"), spread(ratios, "%.3f"),
                                  " ".join("%.3f" % r for r in ratios), spread(cpu_us, "%.0f"),
                                  spread([int(r[5]) / 1024 for r in batches], "%.0f")))
    floor = [float(f[3]) / float(f[2]) for f in floors if f[0] == size]
    if floor:
        print("%s cameras: floor, a thread each that only sleeps 2 s, against one: %s (runs: %s)"
              % (size, spread(floor, "%.3f"), " ".join("%.3f" % r for r in floor)))
PY

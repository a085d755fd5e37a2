"""Peer figures with Debian's python3-xlrd: reads a workbook and touches every cell.

    /usr/bin/python3 device_list_xlrd.py IN.xls
"""
import json
import os
import resource
import sys
import time


def rss_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def run_queue_wait_ms():
    """Time spent ready to run but waiting for a processor (Linux scheduler statistics)."""
    try:
        with open("/proc/self/schedstat") as f:
            return int(f.read().split()[1]) / 1e6
    except (OSError, IndexError, ValueError):
        return 0.0


import xlrd  # noqa: E402  (imported before measuring the baseline)

before = rss_kb()
start = time.perf_counter()
cpu_start = time.process_time()
wait_start = run_queue_wait_ms()
book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
cells = sum(1 for r in range(sheet.nrows) for c in sheet.row_values(r))
ms = (time.perf_counter() - start) * 1000
cpu_ms = (time.process_time() - cpu_start) * 1000
waited = run_queue_wait_ms() - wait_start
print(json.dumps({"tool": "xlrd", "op": "load", "ms": round(ms, 1), "cpu_ms": round(cpu_ms, 1), "rows": sheet.nrows, "cells": cells,
                  "run_queue_wait_ms": round(waited, 1),
                  "rss_before_kb": before, "peak_kb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss}))

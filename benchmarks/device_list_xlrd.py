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


import xlrd  # noqa: E402  (imported before measuring the baseline)

before = rss_kb()
start = time.perf_counter()
cpu_start = time.process_time()
book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
cells = sum(1 for r in range(sheet.nrows) for c in sheet.row_values(r))
ms = (time.perf_counter() - start) * 1000
cpu_ms = (time.process_time() - cpu_start) * 1000
print(json.dumps({"tool": "xlrd", "op": "load", "ms": round(ms, 1), "cpu_ms": round(cpu_ms, 1), "rows": sheet.nrows, "cells": cells,
                  "rss_before_kb": before, "peak_kb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss}))

#!/usr/bin/python3
"""Discovery of many simulated cameras: how many answered, and when the last one did.

    netns_run.sh --addr 10.1.0.1/16 /usr/bin/python3 discovery_figures.py [--devices 500] [--runs 5]
        [--window 3] [--repeats 3] [--rcvbuf BYTES] [--client CMD]

Starts the simulator with N devices (10.1.0.10 upwards), then for each run probes with our own
client, or runs CMD, which prints the cameras it found, one a line, each line starting with its
endpoint reference or address. Reports per run the devices found and the time from the start of
the search to the last new answer (for CMD, the whole command). Exits 1 when a run missed a
device. Prints one JSON line per run and a summary (median, min-max).
"""
import argparse
import json
import re
import shlex
import statistics
import subprocess
import sys
import time

import onvif_client as oc


def probe_timed(window, repeats, expect, rcvbuf):
    """(found endpoints, seconds to the last new one) with our client."""
    start = time.monotonic()
    found = oc.probe(window=window, repeats=repeats, expect=expect, rcvbuf=rcvbuf)
    return set(found), time.monotonic() - start


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--devices", type=int, default=500)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--window", type=float, default=3.0, help="seconds a search listens")
    p.add_argument("--repeats", type=int, default=3, help="probes sent during the window")
    p.add_argument("--first-ip", default="10.1.0.10")
    p.add_argument("--rcvbuf", type=int, default=8 << 20, help="our client's receive buffer (0: the system's)")
    p.add_argument("--client", help="command run per search instead of our client; prints one endpoint a line")
    args = p.parse_args()
    oc.require_namespace()

    started = time.monotonic()
    with oc.Simulator("--devices", str(args.devices), "--first-ip", args.first_ip, "--port", "80") as sim:
        up = time.monotonic() - started
        devices = sim.get("/devices")
        expected = {"urn:uuid:" + d["uuid"] for d in devices}
        by_ip = {d["ip"]: "urn:uuid:" + d["uuid"] for d in devices}  # clients that print addresses
        print(json.dumps({"devices": args.devices, "simulator_start_s": round(up, 3)}), flush=True)
        results = []
        for run in range(args.runs):
            if args.client:
                t0 = time.monotonic()
                out = subprocess.run(shlex.split(args.client), capture_output=True, text=True, timeout=120).stdout
                # The first endpoint reference or IPv4 address on each line: any client's listing will do.
                found = {by_ip.get(m, m) for m in re.findall(r"^\W*(urn:uuid:[\w-]+|\d+\.\d+\.\d+\.\d+)", out, re.M)}
                seconds = time.monotonic() - t0
            else:
                found, seconds = probe_timed(args.window, args.repeats, len(expected), args.rcvbuf)
            missing = expected - found
            results.append((len(found & expected), seconds))
            print(json.dumps({"run": run + 1, "found": len(found & expected), "missing": len(missing),
                              "last_answer_s": round(seconds, 3), "window_s": args.window}), flush=True)
        times = [s for _, s in results]
        print(json.dumps({"summary": "found every device in %d of %d runs" % (
            sum(n == len(expected) for n, _ in results), len(results)),
            "last_answer_median_s": round(statistics.median(times), 3),
            "last_answer_min_s": round(min(times), 3), "last_answer_max_s": round(max(times), 3),
            "probes_answered": sum(d["probes_answered"] for d in sim.get("/devices"))}), flush=True)
        return 0 if all(n == len(expected) for n, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""A batch on many simulated cameras against the same batch on one: whole-command times, side by side.

    netns_run.sh --addr 10.1.0.1/16 /usr/bin/python3 batch_figures.py [--sizes 1,200] [--pairs 3]
        [--sim "SIMULATOR OPTIONS"] -- COMMAND...

For each pair, for each size in turn (A B A B ...), starts a fresh simulator with that many
devices from 10.1.0.10, runs COMMAND with {targets} replaced by the devices' address range and
{n} by their number (and KP_ONVIF_SIM_CONTROL in its environment), and times it. Exits 1 when a
command failed. Prints one JSON line per run, then per size the median and min-max, and the ratio
of each size's median to the first size's.

Example, a reboot batch through the command line on the ONVIF backend:
    ... batch_figures.py --sim "--reboot-seconds 5" -- env RUDAVADO_BACKEND=onvif \\
        build/cli/kpdevicetool-cli run reboot --targets {targets} --password tolvi --parallel {n}
"""
import argparse
import ipaddress
import json
import os
import shlex
import statistics
import subprocess
import sys
import time

import onvif_client as oc


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sizes", default="1,200")
    p.add_argument("--pairs", type=int, default=3)
    p.add_argument("--first-ip", default="10.1.0.10")
    p.add_argument("--sim", default="", help="more simulator options, one string")
    p.add_argument("--timeout", type=float, default=600)
    p.add_argument("command", nargs=argparse.REMAINDER)
    args = p.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        p.error("no command")
    oc.require_namespace()
    sizes = [int(s) for s in args.sizes.split(",")]
    first = ipaddress.ip_address(args.first_ip)
    times = {n: [] for n in sizes}
    failed = False
    for pair in range(args.pairs):
        for n in sizes:
            last = first + n - 1
            targets = str(first) if n == 1 else "%s-%s" % (first, last)
            argv = [a.replace("{targets}", targets).replace("{n}", str(n)) for a in command]
            with oc.Simulator("--devices", str(n), "--first-ip", str(first), "--port", "80",
                              *shlex.split(args.sim)) as sim:
                env = dict(os.environ, KP_ONVIF_SIM_CONTROL=sim.control)
                cpu_before = sim.get("/status")["cpu_seconds"]
                began = time.monotonic()
                result = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True, timeout=args.timeout)
                seconds = time.monotonic() - began
                reboots = sum(d["reboots"] for d in sim.get("/devices"))
                # Close to `seconds` means the simulator, not the command, set the pace.
                sim_cpu = sim.get("/status")["cpu_seconds"] - cpu_before
            times[n].append(seconds)
            failed |= result.returncode != 0
            print(json.dumps({"pair": pair + 1, "devices": n, "seconds": round(seconds, 3),
                              "exit": result.returncode, "restarts_seen": reboots,
                              "simulator_cpu_s": round(sim_cpu, 3),
                              "stderr_tail": result.stderr.strip().splitlines()[-1:]}), flush=True)
    base = statistics.median(times[sizes[0]])
    for n in sizes:
        med = statistics.median(times[n])
        print(json.dumps({"devices": n, "median_s": round(med, 3), "min_s": round(min(times[n]), 3),
                          "max_s": round(max(times[n]), 3), "ratio_to_%d" % sizes[0]: round(med / base, 3)}),
              flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Figures of the camera library's ONVIF backend against simulated ONVIF devices (tests/onvif/).

    sh tests/onvif/netns_run.sh --addr 10.1.0.1/16 /usr/bin/python3 benchmarks/onvif_figures.py BUILD_DIR

- discovery of 500 devices, 5 runs: devices found and the time to the last report, beside the
  probe window (the backend's probes go out over its first 1.5 s);
- a reboot batch of 200 devices with the command line against one device alone, 5 A B pairs (wall
  times and their ratio; every answer of the devices takes 0.5 s, so the batch's own cost shows);
- resident memory per open session (200 sessions).
Prints figures; never fails a build. Must run inside the namespace that netns_run.sh makes.
"""
import ctypes
import os
import statistics
import shutil
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "onvif"))
import onvif_client as oc  # noqa: E402

FOUND_V2 = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ushort, ctypes.c_ushort,
                            ctypes.c_uint, ctypes.c_uint, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                            ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_void_p)
PROBE_WINDOW_S = 1.5


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def discovery_runs(lib, count, runs=5, timeout=15.0):
    results = []
    for _ in range(runs):
        cond = threading.Condition()
        seen = {}
        start = time.monotonic()

        def on_found(name, ip, port, port2, low, high, mask, gw, value, fw, lens, mac, boot, user):
            with cond:
                seen.setdefault(ip, time.monotonic() - start)
                cond.notify_all()

        callback = FOUND_V2(on_found)
        start = time.monotonic()
        lib.KPLPRClient_StartFindDeviceV2(callback, None)
        with cond:
            cond.wait_for(lambda: len(seen) >= count, timeout)
        lib.KpLPRClient_StopFindDevice()
        results.append((len(seen), max(seen.values()) if seen else float("nan")))
    return results


def cli_wall(build, targets, scale, reports):
    env = dict(os.environ, RUDAVADO_BACKEND="onvif", KP_TIME_SCALE=scale, KP_PASSWORD="tolvi")
    start = time.monotonic()
    done = subprocess.run([os.path.join(build, "cli", "kpdevicetool-cli"), "run", "reboot", "--targets", targets,
                           "--password-env", "KP_PASSWORD", "--reports", reports], env=env,
                          capture_output=True)
    wall = time.monotonic() - start
    ok = done.stdout.decode().count("设置成功")
    return wall, ok


def main():
    oc.require_namespace()
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    os.environ["RUDAVADO_BACKEND"] = "onvif"
    lib = ctypes.CDLL(os.path.join(build, "third_part", "RuDAVADO", "libRuDAVADO.so"))
    lib.KpLPRClient_Open.restype = ctypes.c_void_p
    lib.KpLPRClient_Open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
    lib.KpLPRClient_Close.argtypes = [ctypes.c_void_p]

    with oc.Simulator("--devices", "500", "--first-ip", "10.1.0.10", "--port", "80", "--reboot-seconds", "2",
                      env={"KP_TIME_SCALE": "1"}, timeout=120) as sim:
        lib.KpLPRClient_Setup()
        runs = discovery_runs(lib, 500)
        times = [t for _, t in runs]
        print("discovery of 500 devices, 5 runs: found %s; time to the last report median %.2f s (min %.2f, "
              "max %.2f); probe window %.1f s" % ([n for n, _ in runs], statistics.median(times), min(times),
                                                  max(times), PROBE_WINDOW_S))

        before = rss_kib()
        handles = []
        for i in range(200):
            ip = "10.1.%d.%d" % ((10 + i) // 256, (10 + i) % 256)
            h = lib.KpLPRClient_Open(ip.encode(), 80, b"admin", b"tolvi")
            if h:
                handles.append(h)
        after = rss_kib()
        print("memory per open session: %.1f KiB (%d sessions, resident %d -> %d KiB)" %
              ((after - before) / max(1, len(handles)), len(handles), before, after))
        # The session poll closes connections that idle for a second; then each session is its
        # bookkeeping alone.
        time.sleep(4)
        idle = rss_kib()
        print("memory per open session once its connection idled out: %.1f KiB (resident %d KiB)" %
              ((idle - before) / max(1, len(handles)), idle))
        for h in handles:
            lib.KpLPRClient_Close(h)
        lib.KpLPRClient_Cleanup()

        # Every answer takes half a second, as on a loaded camera; then A B A B pairs.
        sim.post("/faults", {"delay": 0.5})
        ratios = []
        # The pairs share 2 cores with whatever else runs: the load says how far to trust them.
        loads = [os.getloadavg()[0]]
        reports = tempfile.mkdtemp(prefix="onvif-figures-")
        for _ in range(5):
            one, ok1 = cli_wall(build, "10.1.0.10", "1", reports)
            many, ok200 = cli_wall(build, "10.1.0.11-210", "1", reports)
            ratios.append(many / one)
            loads.append(os.getloadavg()[0])
            print("reboot: one device %.2f s (%d ok), 200 devices %.2f s (%d ok), ratio %.3f" %
                  (one, ok1, many, ok200, many / one))
        shutil.rmtree(reports, ignore_errors=True)
        print("reboot batch of 200 against one alone: median ratio %.3f (min %.3f, max %.3f); load average %.1f-%.1f" %
              (statistics.median(ratios), min(ratios), max(ratios), min(loads), max(loads)))


if __name__ == "__main__":
    main()

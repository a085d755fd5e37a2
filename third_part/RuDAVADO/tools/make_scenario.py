#!/usr/bin/env python3
"""Writes a scenario with many cameras for load tests (default 1,000) to standard output.

    make_scenario.py [--count N] [--face-every K] [--old-every K] [--offline-every K]
                     [--max-sessions M] > big.json

Cameras get consecutive addresses from 10.20.0.10 on (a /16 network), a mix of plate, face and
older plate models, and serial numbers that never repeat.
"""
import argparse
import json
import sys


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--count", type=int, default=1000)
    p.add_argument("--face-every", type=int, default=4)
    p.add_argument("--old-every", type=int, default=10)
    p.add_argument("--offline-every", type=int, default=0, help="0: all online")
    p.add_argument("--max-sessions", type=int, default=8)
    a = p.parse_args()
    if not 1 <= a.count <= 60000:
        p.error("--count must be 1..60000")
    cameras = []
    for i in range(a.count):
        host = 10 + i
        ip = "10.20.%d.%d" % (host // 250, host % 250 + 1)
        if a.face_every and i % a.face_every == a.face_every - 1:
            model, high = "KP-FACE-F2", 0x4B500102
        elif a.old_every and i % a.old_every == a.old_every - 1:
            model, high = "KP-LPR-V1", 0x4B500001
        else:
            model, high = "KP-LPR-V3", 0x4B500003
        cam = {"name": "cam-%04d" % i, "model": model, "ip": ip, "netmask": "255.255.0.0",
               "gateway": "10.20.0.1", "serial_high": high, "serial_low": 0x20000 + i,
               "lens_code": i % 7, "max_sessions": a.max_sessions}
        if a.offline_every and i % a.offline_every == a.offline_every - 1:
            cam["online"] = False
        cameras.append(cam)
    json.dump({"cameras": cameras}, sys.stdout, ensure_ascii=False, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Clients that no one here wrote, against the simulated cameras: npm's onvif, Debian's
onvif-util, and Debian's wsdd as an independent WS-Discovery implementation.

Runs inside netns_run.sh's namespace (192.168.1.0/24 on loopback); skips elsewhere. A missing
counterpart skips its own test with the reason.
"""
import json
import os
import shutil
import subprocess
import time
import unittest

import onvif_client as oc

USER, PASSWORD = "admin", "tolvi"
HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd, timeout=60, stdin=None):
    return subprocess.run(cmd, input=stdin, capture_output=True, text=True, timeout=timeout, cwd=HERE)


class CounterpartTest(unittest.TestCase):
    def setUp(self):
        self.sim = oc.Simulator("--devices", "3", "--first-ip", "192.168.1.10", "--port", "80",
                                "--reboot-seconds", "5", env={"KP_TIME_SCALE": "0.2"})

    def tearDown(self):
        self.sim.close()

    def uuids(self):
        return sorted("urn:uuid:" + d["uuid"] for d in self.sim.get("/devices"))

    def test_npm_onvif_client(self):
        if not shutil.which("node"):
            self.skipTest("node is not installed")
        if not os.path.isdir(os.path.join(HERE, "node_modules", "onvif")):
            self.skipTest("npm package onvif is not installed (scripts/install-deps.sh installs it)")
        result = run(["node", "npm_onvif_check.js", USER, PASSWORD, "not-the-password"], timeout=90)
        self.assertEqual(result.returncode, 0, result.stderr)
        out = json.loads(result.stdout.strip().splitlines()[-1])
        print("npm onvif 0.8.3 reported:", json.dumps(out, indent=1))
        self.assertEqual([m["urn"] for m in out["discovered"]], self.uuids())
        self.assertIsNone(out["connect_error"])
        first = self.sim.device(0)
        self.assertEqual(out["info"], {"manufacturer": "KP Vision", "model": "KP-LPR-V3",
                                       "firmwareVersion": "3.2.1.15", "serialNumber": first["serial"],
                                       "hardwareId": first["hardware_id"]})
        self.assertEqual(out["stream_uri"], "rtsp://192.168.1.10:8554/live")
        self.assertIsNone(out["time_set_error"])
        self.assertEqual(out["time"], "2031-05-06T07:08:09.000Z")
        self.assertIn("not authorized", (out["stale_offset_error"] or "").lower())
        self.assertIsNone(out["reconnect_error"])
        self.assertEqual(out["reboot"], "Rebooting")
        self.assertIn("not authorized", (out["wrong_password_error"] or "").lower())
        state = self.sim.device(0)
        self.assertEqual(state["reboots"], 1)
        self.assertEqual(state["cleartext_logins"], 0)

    def test_onvif_util(self):
        if not shutil.which("onvif-util"):
            self.skipTest("onvif-util is not installed (Debian package onvif-tools)")
        found = run(["onvif-util", "-a"], timeout=30, stdin="")
        print("onvif-util -a reported:\n" + found.stdout)
        for d in self.sim.get("/devices"):
            self.assertIn("%s %s(KP-LPR-V3)" % (d["ip"], d["hostname"]), found.stdout)
        commands = "get time\nget rtsp\nget network\nget video\nsync_time\nreboot\nyes\nquit\n"
        session = run(["onvif-util", "-u", USER, "-p", PASSWORD, "192.168.1.11"], timeout=30, stdin=commands)
        print("onvif-util session reported:\n" + session.stdout + session.stderr)
        out = session.stdout
        self.assertIn("successfully connected to host", out)
        self.assertIn("serial: %s" % self.sim.device(1)["serial"], out)
        self.assertIn("Timezone:    CST-8", out)
        self.assertIn("rtsp://192.168.1.11:8554/live", out)
        self.assertIn("IP Address: 192.168.1.11", out)
        self.assertIn("Gateway:    192.168.1.1", out)
        self.assertIn("Resolution: 320 x 240", out)
        self.assertIn("Frame Rate: 15", out)
        self.sim.wait_for(lambda ds: ds[1]["reboots"] == 1, what="onvif-util's reboot")
        self.assertEqual(self.sim.device(1)["rejected_logins"], 0)
        self.assertGreaterEqual(self.sim.device(1)["requests"].get("SetSystemDateAndTime", 0), 1)
        refused = run(["onvif-util", "-u", USER, "-p", "wrong", "192.168.1.12"], timeout=30, stdin="quit\n")
        print("onvif-util with a wrong password reported:\n" + refused.stdout + refused.stderr)
        self.assertNotIn("successfully connected", refused.stdout)
        self.assertGreaterEqual(self.sim.device(2)["rejected_logins"], 1)

    def test_wsdd_as_an_independent_discovery_peer(self):
        if not shutil.which("wsdd"):
            self.skipTest("wsdd is not installed")
        # wsdd as a host: it answers a probe for its own type and stays out of a camera search.
        host = subprocess.Popen(["wsdd", "-4", "-i", "lo", "-n", "peer-host", "-s"], cwd=HERE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            devprof = oc.probe_message("wsdp:Device").replace(
                "xmlns:dn=", 'xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" xmlns:dn=').encode()
            answers = {}
            deadline = time.monotonic() + 20
            while not answers and time.monotonic() < deadline:  # wsdd needs a moment to join the group
                answers = oc.probe(window=1.0, payload=devprof)
            self.assertEqual(len(answers), 1, "wsdd did not answer a wsdp:Device probe")
            (urn, (_, source)), = answers.items()
            self.assertTrue(urn.startswith("urn:uuid:"), urn)
            self.assertIn(source, ("127.0.0.1", "192.168.1.1"))
            cameras = oc.probe(window=2.0, expect=4)
            self.assertEqual(sorted(cameras), self.uuids())
            # The simulator read wsdd's devprof probes and Hello as well-formed, and kept quiet.
            probes = self.sim.get("/status")["probes"]
            self.assertEqual(probes["unparsable"], 0, probes)
            self.assertGreaterEqual(probes["other_types"], 1, probes)
            self.assertGreaterEqual(probes["other_messages"], 1, probes)
        finally:
            host.terminate()
            host.wait(timeout=10)


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)

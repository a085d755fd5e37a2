#!/usr/bin/python3
"""The real window (offscreen) on the ONVIF backend against 20 simulated devices.

Starts the simulator, runs tests/ui/onvif_window_tests.cpp (KP_WINDOW_TEST names its program),
then checks what the devices went through. Runs inside netns_run.sh's namespace; skips (77)
elsewhere.
"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "onvif"))
import onvif_client as oc  # noqa: E402

SCALE = "0.05"


class WindowTest(unittest.TestCase):
    def test_twenty_devices_through_the_window(self):
        with oc.Simulator("--devices", "20", "--first-ip", "192.168.1.10", "--port", "80", "--reboot-seconds", "3",
                          "--upgrade-seconds", "3", "--network-seconds", "3",
                          env={"KP_TIME_SCALE": SCALE}) as sim, tempfile.TemporaryDirectory() as work:
            package = os.path.join(work, "KP-LPR-V3_3.3.0.0.bin")
            with open(package, "wb") as f:
                f.write(oc.firmware_package("KP-LPR-V3", "3.3.0.0"))
            env = dict(os.environ, RUDAVADO_BACKEND="onvif", KP_TIME_SCALE=SCALE, QT_QPA_PLATFORM="offscreen",
                       KP_ONVIF_FIRMWARE=package)
            done = subprocess.run([os.environ["KP_WINDOW_TEST"]], env=env, capture_output=True, timeout=500)
            out = done.stdout.decode("utf-8", "replace")
            self.assertEqual(done.returncode, 0, out + done.stderr.decode("utf-8", "replace")[-3000:])
            self.assertIn("[  PASSED  ] 1 test", out)
            devices = sim.get("/devices")
            self.assertTrue(all(d["reboots"] >= 1 for d in devices))
            self.assertEqual([d["users"]["admin"]["password"] for d in devices[:4]], ["Kp@2024"] * 3 + ["tolvi"])
            self.assertEqual([d["ip"] for d in devices[3:6]], ["192.168.1.100", "192.168.1.101", "192.168.1.102"])
            self.assertEqual([d["firmware"] for d in devices[8:10]], ["3.3.0.0"] * 2)
            self.assertEqual(sum(d["cleartext_logins"] for d in devices), 0)
            sim.wait_for(lambda devs: all(d["open_connections"] == 0 for d in devs), timeout=30,
                         what="no open connection")


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)

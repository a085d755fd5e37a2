#!/usr/bin/python3
"""The command line on the ONVIF backend against 20 simulated devices: discover, reboot, time,
password, consecutive addresses, restore, upgrade, and what ONVIF lacks.

Runs inside netns_run.sh's namespace (192.168.1.0/24 on loopback); skips (77) elsewhere.
KP_CLI names the built kpdevicetool-cli.
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "onvif"))
import onvif_client as oc  # noqa: E402

DEVICES = 20
SCALE = "0.05"


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = oc.Simulator("--devices", str(DEVICES), "--first-ip", "192.168.1.10", "--port", "80",
                               "--reboot-seconds", "3", "--upgrade-seconds", "3", "--network-seconds", "3",
                               env={"KP_TIME_SCALE": SCALE})
        cls.work = tempfile.TemporaryDirectory(prefix="kp-onvif-cli-")

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()
        cls.sim.close()

    def cli(self, *args, **extra_env):
        env = dict(os.environ, RUDAVADO_BACKEND="onvif", KP_TIME_SCALE=SCALE, KP_PASSWORD="tolvi", **extra_env)
        done = subprocess.run([os.environ["KP_CLI"], *args], cwd=self.work.name, env=env, capture_output=True,
                              timeout=240)
        return done.returncode, done.stdout.decode("utf-8")

    def run_op(self, operation, targets, *options, **extra_env):
        return self.cli("run", operation, "--targets", targets, "--password-env", "KP_PASSWORD", *options,
                        **extra_env)

    def final_lines(self, out):
        """Each camera's last line, by address."""
        final = {}
        for line in out.splitlines():
            ip, _, text = line.partition(" ")
            if ip.count(".") == 3:
                final[ip] = text
        return final

    def assertAllEnd(self, out, ips, text):
        final = self.final_lines(out)
        for ip in ips:
            self.assertTrue(final.get(ip, "").startswith(text), "%s: %r\n%s" % (ip, final.get(ip), out))

    def ips(self, first, count):
        return ["192.168.1.%d" % (first + i) for i in range(count)]

    def test_1_discover_lists_every_device(self):
        code, out = self.cli("discover", "--seconds", "60", "--json")
        self.assertEqual(code, 0, out)
        found = {c["ip"]: c for c in json.loads(out)}
        for i in range(DEVICES):
            dev = self.sim.device(i)
            self.assertIn(dev["ip"], found)
            # Both serial words in their order, and the kind the backend gives every camera.
            self.assertEqual((found[dev["ip"]]["serial"], found[dev["ip"]]["kind"]), (dev["serial"], "plate"))

    def test_2_reboot_and_time_on_all_twenty(self):
        everyone = "192.168.1.10-29"
        before = [d["reboots"] for d in self.sim.get("/devices")]
        code, out = self.run_op("reboot", everyone)
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(10, DEVICES), "设置成功")
        after = [d["reboots"] for d in self.sim.get("/devices")]
        self.assertEqual([a - b for a, b in zip(after, before)], [1] * DEVICES)
        # Each camera said who it is to the probe sent with its clock request: no request more.
        self.assertFalse([d["ip"] for d in self.sim.get("/devices") if "GetEndpointReference" in d["requests"]])
        # A reboot ends once the camera took the command; the next batch needs it back.
        self.sim.wait_for(lambda devs: all(d["state"] == "online" for d in devs), timeout=60,
                          what="every device back after the reboot")
        for i in range(DEVICES):
            self.sim.post("/devices/%d/set" % i, {"clock_offset": 3600 * (i - 10)})
        code, out = self.run_op("time", everyone)
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(10, DEVICES), "设置成功")
        self.assertIn("20 succeeded, 0 failed", out)
        self.assertLess(max(abs(d["clock_offset"]) for d in self.sim.get("/devices")), 5)

    def test_3_password_of_three(self):
        code, out = self.run_op("password", "192.168.1.10-12", "--new-password-env", "NEW_PW", NEW_PW="Kp@2024")
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(10, 3), "设置成功")
        for i in range(3):
            self.assertEqual(self.sim.device(i)["users"]["admin"]["password"], "Kp@2024")
        self.assertEqual(self.sim.device(3)["users"]["admin"]["password"], "tolvi")

    def test_4_consecutive_addresses(self):
        code, out = self.run_op("network", "192.168.1.13-15", "--ip", "192.168.1.100", "--mask", "255.255.255.0",
                                "--gateway", "192.168.1.1", RUDAVADO_ONVIF_USER="admin",
                                RUDAVADO_ONVIF_PASSWORD="tolvi")
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(13, 3), "设置成功")
        self.assertEqual([self.sim.device(3 + i)["ip"] for i in range(3)], self.ips(100, 3))

    def test_5_restore_partial_and_full(self):
        code, out = self.run_op("restore", "192.168.1.16-17", "--partial")
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(16, 2), "设置成功")
        code, out = self.run_op("restore", "192.168.1.18", "--full")
        self.assertEqual(code, 0, out)
        self.assertEqual([self.sim.device(i)["requests"].get("SetSystemFactoryDefault") for i in (6, 7, 8)],
                         [1, 1, 1])

    def test_6_upgrade_two(self):
        package = os.path.join(self.work.name, "KP-LPR-V3_3.3.0.0.bin")
        with open(package, "wb") as f:
            f.write(oc.firmware_package("KP-LPR-V3", "3.3.0.0"))
        code, out = self.run_op("upgrade", "192.168.1.19-20", "--file", package)
        self.assertEqual(code, 0, out)
        self.assertAllEnd(out, self.ips(19, 2), "升级成功")
        self.assertEqual([self.sim.device(i)["firmware"] for i in (9, 10)], ["3.3.0.0"] * 2)

    def test_7_what_onvif_lacks_fails(self):
        config = os.path.join(self.work.name, "x.cfg")
        with open(config, "w") as f:
            f.write("[group]\nitem=1\n")
        logo = os.path.join(self.work.name, "logo.png")
        with open(logo, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + b"\0" * 64)
        # Each ends failed with the reason, not only the step's generic failure.
        for args, ip, status in ((("import", "192.168.1.21", "--file", config), "192.168.1.21", "设置失败"),
                                 (("upload", "192.168.1.22", "--logo", logo), "192.168.1.22", "设置失败"),
                                 (("export-config", "192.168.1.23", "--out", self.work.name), "192.168.1.23",
                                  "导出失败")):
            code, out = self.run_op(*args)
            self.assertEqual(code, 1, out)
            self.assertAllEnd(out, [ip], status + " (设备不支持此操作)")

    def test_8_no_connection_left_open(self):
        self.sim.wait_for(lambda devs: all(d["open_connections"] == 0 for d in devs), timeout=30,
                          what="no open connection")
        self.assertEqual(sum(d["cleartext_logins"] for d in self.sim.get("/devices")), 0)

    def test_9_a_camera_on_another_port(self):
        # The port comes from the search (the XAddrs) and is used for every request after it.
        with oc.Simulator("--devices", "1", "--first-ip", "192.168.1.200", "--port", "8080", "--serial-offset", "100",
                          env={"KP_TIME_SCALE": SCALE}) as other:
            code, out = self.cli("discover", "--seconds", "60", "--json")
            self.assertEqual(code, 0, out)
            found = {c["ip"]: c for c in json.loads(out)}
            self.assertEqual((found["192.168.1.200"]["port"], found["192.168.1.200"]["serial"]),
                             (8080, other.device(0)["serial"]))
            code, out = self.run_op("time", "192.168.1.200", "--port", "8080")
            self.assertEqual(code, 0, out)
            self.assertAllEnd(out, ["192.168.1.200"], "设置成功")
            self.assertEqual(other.device(0)["requests"].get("SetSystemDateAndTime"), 1)
            other.wait_for(lambda devs: devs[0]["open_connections"] == 0, timeout=30, what="no open connection")


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)

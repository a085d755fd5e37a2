#!/usr/bin/python3
"""The camera library's ONVIF backend through its C interface against 20 simulated devices.

Runs inside netns_run.sh's namespace (192.168.1.0/24 on loopback); skips (77) elsewhere.
RUDAVADO_LIBRARY names the built library.
"""
import ctypes
import os
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "onvif"))
import onvif_client as oc  # noqa: E402

DEVICES = 20
USER, PASSWORD = b"admin", b"tolvi"
ERR_TIMEOUT, ERR_REFUSED, ERR_AUTH, ERR_SESSION_LOST = 4, 5, 6, 8
ERR_NOT_SUPPORTED, ERR_DEVICE, ERR_NOT_FOUND = 10, 15, 16
NOTIFY_OFFLINE, NOTIFY_REBOOT, NOTIFY_ONLINE, NOTIFY_LOGIN_FAILED = 1, 2, 3, 4


class DateTime(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ("year", "month", "day", "hour", "minute", "second")]


class NetConfig(ctypes.Structure):
    _fields_ = [("ip", ctypes.c_char * 16), ("netmask", ctypes.c_char * 16), ("gateway", ctypes.c_char * 16),
                ("dns", ctypes.c_char * 16), ("mac", ctypes.c_char * 32), ("port", ctypes.c_int),
                ("dhcp", ctypes.c_int), ("reserved", ctypes.c_char * 56)]


NOTIFY = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int)
FOUND_V2 = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ushort, ctypes.c_ushort,
                            ctypes.c_uint, ctypes.c_uint, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                            ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_void_p)


class Events:
    """Notify events and discovery reports, waited for on a condition."""

    def __init__(self):
        self.cond = threading.Condition()
        self.notes = []
        self.found = {}

    def on_notify(self, handle, user, code, reserved):
        with self.cond:
            self.notes.append((handle, code))
            self.cond.notify_all()

    def on_found(self, name, ip, port, port2, low, high, mask, gw, value, fw, lens, mac, boot, user):
        with self.cond:
            self.found.setdefault(ip.decode(), []).append((port, high, low, name.decode()))
            self.cond.notify_all()

    def wait(self, predicate, timeout=30.0, what="event"):
        with self.cond:
            if not self.cond.wait_for(predicate, timeout):
                raise AssertionError("timed out waiting for " + what)

    def codes(self, handle):
        with self.cond:
            return [c for h, c in self.notes if h == handle]


class BackendTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = oc.Simulator("--devices", str(DEVICES), "--first-ip", "192.168.1.10", "--port", "80",
                               "--reboot-seconds", "3", "--upgrade-seconds", "3", "--network-seconds", "3",
                               "--rtsp", "--rtsp-codec", "jpeg", env={"KP_TIME_SCALE": "0.1"})
        os.environ["RUDAVADO_BACKEND"] = "onvif"
        os.environ["KP_TIME_SCALE"] = "0.1"
        cls.lib = ctypes.CDLL(os.environ["RUDAVADO_LIBRARY"])
        cls.lib.KpLPRClient_Open.restype = ctypes.c_void_p
        cls.lib.KpLPRClient_Open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
        for name in ("Close", "RebootDevice", "RestorePart", "RestoreFull", "GetUpdateState",
                     "GetUpdateProgress"):
            getattr(cls.lib, "KpLPRClient_" + name).argtypes = [ctypes.c_void_p]
        for name in ("SetLoginAccount", "Update", "ParaImportV2", "FaceUploadLogo"):
            getattr(cls.lib, "KpLPRClient_" + name).argtypes = [ctypes.c_void_p, ctypes.c_char_p]
        cls.lib.KpLPRClient_StartRealPlay.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        cls.lib.RuDAVADO_PlayFrames.argtypes = [ctypes.c_int]
        cls.lib.RuDAVADO_PlayFrames.restype = ctypes.c_longlong
        cls.lib.KpLPRClient_GetDateTime.argtypes = [ctypes.c_void_p, ctypes.POINTER(DateTime)]
        cls.lib.KpLPRClient_SetDateTime.argtypes = [ctypes.c_void_p, ctypes.POINTER(DateTime)]
        cls.lib.KpLPRClient_GetSystemVersion.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
        cls.lib.KpLPRClient_GetNetConfig.argtypes = [ctypes.c_void_p, ctypes.POINTER(NetConfig)]
        cls.lib.KpLPRClient_GetSerialNumber.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint),
                                                        ctypes.POINTER(ctypes.c_uint)]
        cls.lib.KpLPRClient_UpdateNetworkParam.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_char_p,
                                                           ctypes.c_char_p, ctypes.c_char_p]
        assert cls.lib.KpLPRClient_Setup() == 0
        cls.events = Events()
        cls.notify = NOTIFY(cls.events.on_notify)
        cls.found = FOUND_V2(cls.events.on_found)
        assert cls.lib.KPLPRClient_SetCommonNotifyCallBack(cls.notify, None) == 0

    @classmethod
    def tearDownClass(cls):
        cls.lib.KpLPRClient_Cleanup()
        cls.sim.close()

    def ip(self, i):
        return self.sim.device(i)["ip"]

    def open(self, i, password=PASSWORD, ip=None):
        handle = self.lib.KpLPRClient_Open((ip or self.ip(i)).encode(), 80, USER, password)
        if handle:
            self.addCleanup(self.lib.KpLPRClient_Close, handle)
        return handle

    def error(self):
        return self.lib.KpLPRClient_GetLastError()

    def assertFails(self, result, code):
        self.assertEqual(result, -1)
        self.assertEqual(self.error(), code)

    def wait_code(self, handle, code, what):
        self.events.wait(lambda: code in [c for h, c in self.events.notes if h == handle], what=what)

    # ---- discovery -------------------------------------------------------------------------
    def test_discovery_reports_every_device_once_with_its_serial_words(self):
        self.assertEqual(self.lib.KPLPRClient_StartFindDeviceV2(self.found, None), 0)
        try:
            self.events.wait(lambda: len(self.events.found) >= DEVICES, what="every device reported")
        finally:
            self.assertEqual(self.lib.KpLPRClient_StopFindDevice(), 0)
        for i in range(DEVICES):
            dev = self.sim.device(i)
            reports = self.events.found[dev["ip"]]
            self.assertEqual(len(reports), 1, dev["ip"])  # three probes, one report
            port, high, low, _ = reports[0]
            self.assertEqual(port, 80)
            self.assertEqual("%08x-%08x" % (high, low), dev["serial"])

    # ---- sessions --------------------------------------------------------------------------
    def test_open_fails_with_the_reason(self):
        self.assertIsNone(self.lib.KpLPRClient_Open(self.ip(0).encode(), 80, USER, b"wrong"))
        self.assertEqual(self.error(), ERR_AUTH)
        self.assertIsNone(self.lib.KpLPRClient_Open(b"192.168.1.250", 80, USER, PASSWORD))
        self.assertIn(self.error(), (ERR_TIMEOUT, ERR_REFUSED))
        self.sim.post("/devices/1/faults", {"silent": True})
        try:
            start = time.monotonic()
            self.assertIsNone(self.lib.KpLPRClient_Open(self.ip(1).encode(), 80, USER, PASSWORD))
            self.assertEqual(self.error(), ERR_TIMEOUT)
            self.assertLess(time.monotonic() - start, 30)
        finally:
            self.sim.post("/devices/1/faults", {"silent": False})
        self.assertEqual(self.sim.device(0)["cleartext_logins"], 0)

    def test_time_is_set_in_utc_with_the_zone_and_read_back(self):
        h = self.open(2)
        self.assertTrue(h)
        self.sim.post("/devices/2/set", {"clock_offset": 86400 * 3})  # a day's skew is no obstacle
        now = time.localtime()
        t = DateTime(now.tm_year - 1900, now.tm_mon - 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec)
        self.assertEqual(self.lib.KpLPRClient_SetDateTime(h, ctypes.byref(t)), 0, self.error())
        self.assertLess(abs(self.sim.device(2)["clock_offset"]), 5)
        back = DateTime()
        self.assertEqual(self.lib.KpLPRClient_GetDateTime(h, ctypes.byref(back)), 0)
        self.assertEqual((back.year, back.month, back.day, back.hour), (t.year, t.month, t.day, t.hour))
        self.assertFails(self.lib.KpLPRClient_SetDateTime(h, ctypes.byref(DateTime(200, 0, 1, 0, 0, 0))), 2)

    def test_reboot_drops_the_session_until_the_device_is_back(self):
        h = self.open(3)
        before = self.sim.device(3)["reboots"]
        self.assertEqual(self.lib.KpLPRClient_RebootDevice(h), 0)
        self.wait_code(h, NOTIFY_REBOOT, "reboot notice")
        self.assertFails(self.lib.KpLPRClient_GetDateTime(h, ctypes.byref(DateTime())), ERR_SESSION_LOST)
        self.wait_code(h, NOTIFY_ONLINE, "back online")
        self.assertEqual(self.sim.device(3)["reboots"], before + 1)
        self.assertEqual(self.lib.KpLPRClient_GetDateTime(h, ctypes.byref(DateTime())), 0)

    def test_power_loss_and_return_are_notified(self):
        h = self.open(4)
        self.sim.post("/devices/4/power", {"on": False})
        self.wait_code(h, NOTIFY_OFFLINE, "offline notice")
        self.sim.post("/devices/4/power", {"on": True})
        self.wait_code(h, NOTIFY_ONLINE, "online notice")

    def test_password_change_holds_for_new_logins_and_refuses_the_old(self):
        h = self.open(5)
        other = self.open(5)
        self.assertFails(self.lib.KpLPRClient_SetLoginAccount(h, b""), 2)
        self.assertEqual(self.lib.KpLPRClient_SetLoginAccount(h, b"Kp@2024"), 0, self.error())
        self.assertEqual(self.sim.device(5)["users"][USER.decode()]["password"], "Kp@2024")
        self.assertEqual(self.lib.KpLPRClient_GetDateTime(h, ctypes.byref(DateTime())), 0)
        self.assertTrue(self.open(5, password=b"Kp@2024"))
        self.assertIsNone(self.lib.KpLPRClient_Open(self.ip(5).encode(), 80, USER, PASSWORD))
        self.assertEqual(self.error(), ERR_AUTH)
        # The other session kept the old login: after a restart it is refused, not online.
        self.assertEqual(self.lib.KpLPRClient_RebootDevice(h), 0)
        self.wait_code(other, NOTIFY_LOGIN_FAILED, "refused login notice")
        self.wait_code(h, NOTIFY_ONLINE, "changed session back")

    def test_address_change_by_serial_words_finds_the_device_at_its_new_address(self):
        h = self.open(6)
        high, low = ctypes.c_uint(), ctypes.c_uint()
        self.assertEqual(self.lib.KpLPRClient_GetSerialNumber(h, ctypes.byref(high), ctypes.byref(low)), 0)
        self.assertEqual("%08x-%08x" % (high.value, low.value), self.sim.device(6)["serial"])
        self.assertFails(self.lib.KpLPRClient_UpdateNetworkParam(high, low, self.ip(7).encode(), b"192.168.1.1",
                                                                 b"255.255.255.0"), 14)
        self.assertFails(self.lib.KpLPRClient_UpdateNetworkParam(1, 2, b"192.168.1.200", b"192.168.1.1",
                                                                 b"255.255.255.0"), ERR_NOT_FOUND)
        self.assertEqual(self.lib.KpLPRClient_UpdateNetworkParam(high, low, b"192.168.1.200", b"192.168.1.254",
                                                                 b"255.255.255.0"), 0, self.error())
        self.wait_code(h, NOTIFY_OFFLINE, "old session dropped")
        dev = self.sim.device(6)
        self.assertEqual((dev["ip"], dev["gateway"]), ("192.168.1.200", "192.168.1.254"))
        moved = self.open(6, ip="192.168.1.200")
        self.assertTrue(moved)
        config = NetConfig()
        self.assertEqual(self.lib.KpLPRClient_GetNetConfig(moved, ctypes.byref(config)), 0)
        self.assertEqual((config.ip, config.netmask, config.gateway),
                         (b"192.168.1.200", b"255.255.255.0", b"192.168.1.254"))

    def test_restore_soft_keeps_the_login_and_hard_resets_it(self):
        h = self.open(8)
        self.assertEqual(self.lib.KpLPRClient_RestorePart(h), 0)
        self.wait_code(h, NOTIFY_REBOOT, "restart of a restore")
        self.wait_code(h, NOTIFY_ONLINE, "back after a restore")
        self.assertEqual(self.sim.device(8)["requests"].get("SetSystemFactoryDefault"), 1)
        self.assertEqual(self.lib.KpLPRClient_RestoreFull(h), 0)
        self.wait_code(h, NOTIFY_REBOOT, "restart of a full restore")

    def test_upgrade_reports_the_upload_and_the_new_version_runs_after_the_restart(self):
        h = self.open(9)
        path = os.path.join(tempfile.gettempdir(), "onvif-e2e-%d.bin" % os.getpid())
        with open(path, "wb") as f:
            f.write(oc.firmware_package("KP-LPR-V3", "3.3.0.0"))
        self.addCleanup(os.remove, path)
        self.assertFails(self.lib.KpLPRClient_Update(h, b"/nonexistent.bin"), 11)
        empty = path + ".empty"
        open(empty, "wb").close()
        self.addCleanup(os.remove, empty)
        self.assertFails(self.lib.KpLPRClient_Update(h, empty.encode()), 11)  # nothing to upload
        self.assertEqual(self.sim.device(9)["requests"].get("StartFirmwareUpgrade"), None)
        self.assertEqual(self.lib.KpLPRClient_Update(h, path.encode()), 0, self.error())
        deadline = time.monotonic() + 60
        states = []
        while time.monotonic() < deadline:
            state = self.lib.KpLPRClient_GetUpdateState(h)
            states.append(state)
            if state in (1, 3, -1):
                break
            self.assertGreaterEqual(self.lib.KpLPRClient_GetUpdateProgress(h), 0)
            time.sleep(0.01)  # the interface is polled, as its callers do
        self.assertEqual(states[-1], 1, states[-5:])
        self.assertEqual(self.lib.KpLPRClient_GetUpdateProgress(h), 100)
        self.wait_code(h, NOTIFY_ONLINE, "back after the upgrade")
        version = ctypes.create_string_buffer(32)
        self.assertEqual(self.lib.KpLPRClient_GetSystemVersion(h, version), 0)
        self.assertEqual(version.value, b"3.3.0.0")

    def test_what_onvif_lacks_fails_as_not_supported_and_faults_as_errors(self):
        h = self.open(10)
        self.assertFails(self.lib.KpLPRClient_ParaImportV2(h, b"x.cfg"), ERR_NOT_SUPPORTED)
        self.assertFails(self.lib.KpLPRClient_FaceUploadLogo(h, b"x.png"), ERR_NOT_SUPPORTED)
        self.sim.post("/devices/10/faults", {"fault_ops": {"SystemReboot": "busy"}})
        self.assertFails(self.lib.KpLPRClient_RebootDevice(h), ERR_DEVICE)
        self.sim.post("/devices/10/faults", {"fault_ops": {}})

    def test_preview_decodes_the_stream_over_rtsp(self):
        if not self.sim.info.get("rtsp"):
            self.skipTest("no RTSP server: %s" % self.sim.info.get("rtsp_reason"))
        h = self.open(11)
        play = self.lib.KpLPRClient_StartRealPlay(h, None)
        self.assertGreaterEqual(play, 0, self.error())
        deadline = time.monotonic() + 30
        while self.lib.RuDAVADO_PlayFrames(play) < 10 and time.monotonic() < deadline:
            time.sleep(0.05)  # frames arrive at the stream's own pace
        self.assertGreaterEqual(self.lib.RuDAVADO_PlayFrames(play), 10)
        self.assertEqual(self.lib.KpLPRClient_StopRealPlay(play), 0)
        self.assertEqual(self.lib.RuDAVADO_PlayFrames(play), -1)

    def test_zz_no_connection_is_left_open_after_the_sessions_close(self):
        for i in range(DEVICES):
            if i not in (5, 6):  # another password, another address
                self.assertTrue(self.open(i), i)
        self.doCleanups()
        self.sim.wait_for(lambda devs: all(d["open_connections"] == 0 for d in devs), timeout=30,
                          what="no open connection")


if __name__ == "__main__":
    oc.require_namespace()
    unittest.main(verbosity=2)
